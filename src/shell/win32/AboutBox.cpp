#include "shell/win32/AboutBox.h"

#include "TarnowickVersion.h"
#include "run_resource.h"
#include "shell/win32/IconResource.h"
#include "ui/win32/ModalDialog.h"

namespace tw {

namespace {
INT_PTR CALLBACK AboutProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG: {
        const int size = GetSystemMetrics(SM_CXICON);
        HICON icon = LoadIcoResource(reinterpret_cast<HINSTANCE>(lp), IDI_TRAY_RUNNING, size, size);
        SendDlgItemMessageW(dialog, IDC_ABOUT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
        SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, "Version " TW_VERSION_TEXT);  // the build's version
        CenterOnOwner(dialog);
        return TRUE;
    }
    case WM_DESTROY: {
        auto icon = reinterpret_cast<HICON>(SendDlgItemMessageW(dialog, IDC_ABOUT_ICON, STM_GETICON, 0, 0));
        if (icon) DestroyIcon(icon);
        return FALSE;
    }
    case WM_COMMAND:
        return EndOnOkCancel(dialog, wp);
    default:
        return FALSE;
    }
}
}  // namespace

void ShowAboutBox(HINSTANCE instance, HWND owner) {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutProc, reinterpret_cast<LPARAM>(instance));
}

}  // namespace tw
