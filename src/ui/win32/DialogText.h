// Text of a dialog control as the program's 8-bit strings (the ANSI code page).
#pragma once

#include <windows.h>

#include <string>

namespace tw {

inline std::string WindowTextA(HWND control) {
    const int length = GetWindowTextLengthA(control);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(control, &text[0], length + 1)));
    return text;
}

inline std::string ItemTextA(HWND dialog, int id) { return WindowTextA(GetDlgItem(dialog, id)); }

}  // namespace tw
