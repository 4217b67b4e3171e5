#include "shell/win32/PasswordDialog.h"

#include "run_resource.h"
#include "ui/win32/ModalDialog.h"
#include "ui/win32/DialogText.h"

namespace tw {

std::optional<std::string> TPasswordDlg::Execute() {
    typed_.clear();
    const INT_PTR result = DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_PASSWORD), owner_, Proc,
                                           reinterpret_cast<LPARAM>(this));
    std::string typed;
    typed.swap(typed_);
    if (result != IDOK) return std::nullopt;
    return typed;
}

INT_PTR CALLBACK TPasswordDlg::Proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lp);
        CenterOnOwner(dialog);
        return TRUE;  // focus goes to the edit, the first tab stop
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK) {
            auto* self = reinterpret_cast<TPasswordDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
            self->typed_ = ItemTextA(dialog, IDC_PASSWORD_EDIT);
        }
        return EndOnOkCancel(dialog, wp);
    default:
        return FALSE;
    }
}

}  // namespace tw
