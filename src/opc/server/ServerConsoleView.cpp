#include "opc/server/ServerConsoleView.h"

#include "opc/ComText.h"
#include "opc/server/ConsoleResource.h"
#include "opc/server/ShutDownDlg.h"
#include "opc/server/opcSvConsole.h"

namespace tw::opc {
namespace {

const wchar_t kMessageCaption[] = L"Velmora Tarnowick";

class TServerConsoleView final : public IServerConsoleView {
public:
    void SetCounts(const std::string& clients, const std::string& groups) override {
        SetDlgItemTextW(dlg, IDC_CLIENTCONLBL, Widen(clients).c_str());
        SetDlgItemTextW(dlg, IDC_GRPCOUNTLBL, Widen(groups).c_str());
    }
    void EnableShutdownRequest(bool enabled) override { EnableWindow(GetDlgItem(dlg, IDC_SDBUTTON), enabled); }
    void CloseConsole() override { EndDialog(dlg, IDOK); }
    int ChooseServerToShutdown(const std::vector<TShutDownEntry>& entries) override {
        return TShutDownDlg::Execute(dlg, entries);
    }
    void ShowPlainMessage(const std::string& text) override {
        MessageBoxW(dlg, Widen(text).c_str(), kMessageCaption, MB_OK);
    }

    HWND dlg = nullptr;  // null until the dialog exists and after it has gone: calls then do nothing
};

struct TConsole {
    TServerConsoleView view;
    TfrmOPCServerConsole* form;
};

INT_PTR CALLBACK ConsoleProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* console = reinterpret_cast<TConsole*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG:
            console = reinterpret_cast<TConsole*>(lp);
            SetWindowLongPtrW(dlg, DWLP_USER, lp);
            console->view.dlg = dlg;
            console->form->FormShow();
            return TRUE;
        case WM_COMMAND:
            if (!console || HIWORD(wp) != BN_CLICKED) break;
            switch (LOWORD(wp)) {
                case IDC_CLOSEBTN:
                case IDCANCEL: console->form->CloseBtnClick(); return TRUE;
                case IDC_REGSERBTN: console->form->RegSerBtnClick(); return TRUE;
                case IDC_UNREGBTN: console->form->UnRegBtnClick(); return TRUE;
                case IDC_SDBUTTON: console->form->SDButtonClick(); return TRUE;
                default: break;
            }
            break;
        case WM_DESTROY:
            if (console) console->view.dlg = nullptr;
            break;
        default: break;
    }
    return FALSE;
}

}  // namespace

void ShowServerConsole(HWND owner, IGeneral& general, IClassesRegistry* registry) {
    TClassesRootRegistry classesRoot;
    TConsole console;
    TfrmOPCServerConsole form(console.view, general, registry ? *registry : classesRoot);
    console.form = &form;
    TOpenConsole open(form);
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_OPCSERVERCONSOLE), owner, ConsoleProc,
                    reinterpret_cast<LPARAM>(&console));
}

}  // namespace tw::opc
