#include "DialogTemplate.h"

namespace vxgen {

TDialogTemplate::TDialogTemplate(DWORD style, const std::wstring& caption, WORD pointSize, const std::wstring& font) {
    PutDword(style | DS_SETFONT);
    PutDword(0);  // extended style
    Put(0);       // item count, counted up by AddControl
    for (int i = 0; i < 4; ++i) Put(0);  // x, y, cx, cy: set when the dialog opens
    Put(0);                              // no menu
    Put(0);                              // the standard dialog class
    PutString(caption);
    Put(pointSize);
    PutString(font);
}

void TDialogTemplate::PutString(const std::wstring& s) {
    for (wchar_t c : s) Put(static_cast<WORD>(c));
    Put(0);
}

void TDialogTemplate::AddControl(WORD classAtom, WORD id, DWORD style, const std::wstring& text, short x, short y,
                                 short cx, short cy) {
    AlignDword();
    PutDword(style | WS_CHILD | WS_VISIBLE);
    PutDword(0);
    Put(static_cast<WORD>(x));
    Put(static_cast<WORD>(y));
    Put(static_cast<WORD>(cx));
    Put(static_cast<WORD>(cy));
    Put(id);
    Put(0xFFFF);
    Put(classAtom);
    PutString(text);
    Put(0);       // no creation data
    ++words_[4];  // DLGTEMPLATE::cdit
}

}  // namespace vxgen
