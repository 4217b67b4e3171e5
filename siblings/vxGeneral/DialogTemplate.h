// An in-memory dialog template (DLGTEMPLATE with DLGITEMTEMPLATE entries) for DialogBoxIndirectParam.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vxgen {

class TDialogTemplate {
public:
    // Predefined control classes by atom.
    static constexpr WORD kButton = 0x0080;
    static constexpr WORD kStatic = 0x0082;

    TDialogTemplate(DWORD style, const std::wstring& caption, WORD pointSize, const std::wstring& font);
    // Position and size in dialog units; the dialog may lay its controls out again when it opens.
    void AddControl(WORD classAtom, WORD id, DWORD style, const std::wstring& text, short x, short y, short cx,
                    short cy);
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void Put(WORD w) { words_.push_back(w); }
    void PutDword(DWORD d) {
        Put(LOWORD(d));
        Put(HIWORD(d));
    }
    void PutString(const std::wstring& s);
    void AlignDword() {
        if (words_.size() % 2) Put(0);
    }

    std::vector<WORD> words_;  // DWORD-aligned by the allocator; items are aligned within it
};

}  // namespace vxgen
