#include "opc/server/ShutDownDlg.h"

#include "opc/ComText.h"
#include "opc/server/ConsoleResource.h"
#include "ui/win32/ModalDialog.h"

namespace tw::opc {
namespace {

// The dialog's result is the chosen slot plus 1; 0 means nothing was chosen.
INT_PTR CALLBACK ShutDownProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_INITDIALOG: {
            const auto& entries = *reinterpret_cast<const std::vector<TShutDownEntry>*>(lp);
            HWND combo = GetDlgItem(dlg, IDC_CBXSERVER);
            for (const TShutDownEntry& e : entries) {
                const LRESULT i = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(e.text).c_str()));
                if (i >= 0) SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(i), e.slot);
            }
            if (!entries.empty()) SendMessageW(combo, CB_SETCURSEL, 0, 0);
            CenterOnWorkArea(dlg);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK) {
                const LRESULT sel = SendDlgItemMessageW(dlg, IDC_CBXSERVER, CB_GETCURSEL, 0, 0);
                const LRESULT slot =
                    sel == CB_ERR ? -1 : SendDlgItemMessageW(dlg, IDC_CBXSERVER, CB_GETITEMDATA, static_cast<WPARAM>(sel), 0);
                EndDialog(dlg, slot < 0 ? 0 : slot + 1);
                return TRUE;
            }
            if (LOWORD(wp) == IDCANCEL) {
                EndDialog(dlg, 0);
                return TRUE;
            }
            break;
        default: break;
    }
    return FALSE;
}

}  // namespace

int TShutDownDlg::Execute(HWND owner, const std::vector<TShutDownEntry>& entries) {
    const INT_PTR r = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SHUTDOWNDLG), owner, ShutDownProc,
                                      reinterpret_cast<LPARAM>(&entries));
    return r > 0 ? static_cast<int>(r - 1) : -1;
}

}  // namespace tw::opc
