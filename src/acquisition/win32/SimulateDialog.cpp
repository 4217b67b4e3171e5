#include "acquisition/win32/SimulateDialog.h"

#include <commctrl.h>

#include "run_resource.h"
#include "ui/win32/ModalDialog.h"
#include "ui/win32/DialogText.h"

namespace tw {

namespace {
constexpr UINT_PTR kValueFilterId = 1;

// The field's clipboard text as 8-bit text; nothing when it holds more than plain ASCII.
bool ClipboardAscii(HWND owner, std::string& text) {
    bool ok = false;
    if (!OpenClipboard(owner)) return false;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* wide = static_cast<const wchar_t*>(GlobalLock(data))) {
            ok = true;
            for (const wchar_t* c = wide; *c; ++c) {
                if (*c > 0x7f) ok = false;
                text.push_back(static_cast<char>(*c));
            }
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return ok;
}

// The field as the filter sees it, with its selection and the data type it takes.
TfrmSimulate FieldOf(HWND edit, DWORD& start, DWORD& end, DWORD_PTR type) {
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    TfrmSimulate field;
    field.edtValue = WindowTextA(edit);
    field.DataType = static_cast<TDataType>(type);
    return field;
}
}  // namespace

bool TSimulateDialog::Execute(TfrmSimulate& form) {
    form_ = &form;
    const INT_PTR result = DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_SIMULATE), owner_, Proc,
                                           reinterpret_cast<LPARAM>(this));
    form_ = nullptr;
    if (bold_) DeleteObject(bold_);
    bold_ = nullptr;
    return result == IDOK;
}

void TSimulateDialog::Init(HWND dialog) {
    HWND tag = GetDlgItem(dialog, IDC_LBLOPCTAG);
    LOGFONTW font{};
    auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    if (dialogFont && GetObjectW(dialogFont, sizeof font, &font)) {
        font.lfWeight = FW_BOLD;
        bold_ = CreateFontIndirectW(&font);
        if (bold_) SendMessageW(tag, WM_SETFONT, reinterpret_cast<WPARAM>(bold_), FALSE);
    }
    SetWindowTextA(tag, form_->lblOPCTag.c_str());
    HWND value = GetDlgItem(dialog, IDC_EDTVALUE);
    SetWindowTextA(value, form_->edtValue.c_str());
    SetWindowSubclass(value, ValueProc, kValueFilterId, static_cast<DWORD_PTR>(form_->DataType));
    CenterOnOwner(dialog);
}

INT_PTR CALLBACK TSimulateDialog::Proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TSimulateDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lp);
        reinterpret_cast<TSimulateDialog*>(lp)->Init(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK) self->form_->edtValue = ItemTextA(dialog, IDC_EDTVALUE);
        return EndOnOkCancel(dialog, wp);
    case WM_DESTROY:
        RemoveWindowSubclass(GetDlgItem(dialog, IDC_EDTVALUE), ValueProc, kValueFilterId);
        return FALSE;
    default:
        return FALSE;
    }
}

// edtValueKeyPress, and the same rule for a paste, which arrives without a key.
LRESULT CALLBACK TSimulateDialog::ValueProc(HWND edit, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR type) {
    DWORD start = 0, end = 0;
    if (msg == WM_CHAR) {
        const TfrmSimulate field = FieldOf(edit, start, end, type);
        if (wp > 0x7f || !field.edtValueKeyPress(static_cast<char>(wp), start, end)) {
            MessageBeep(MB_OK);
            return 0;
        }
    } else if (msg == WM_PASTE) {
        const TfrmSimulate field = FieldOf(edit, start, end, type);
        std::string text;
        if (!ClipboardAscii(edit, text) || !TfrmSimulate::AcceptsEdit(field.edtValue, start, end, text, field.DataType)) {
            MessageBeep(MB_OK);
            return 0;
        }
    }
    return DefSubclassProc(edit, msg, wp, lp);
}

}  // namespace tw
