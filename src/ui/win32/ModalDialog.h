// What the program's modal dialogs share, whichever subsystem shows them: where they appear, and how
// OK and Cancel end them.
#pragma once

#include <windows.h>

namespace tw {

inline void CenterInRect(HWND dialog, const RECT& area) {
    RECT box;
    GetWindowRect(dialog, &box);
    const int w = box.right - box.left, h = box.bottom - box.top;
    SetWindowPos(dialog, nullptr, area.left + (area.right - area.left - w) / 2,
                 area.top + (area.bottom - area.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Centred on the screen's work area (the part the taskbar leaves free).
inline void CenterOnWorkArea(HWND dialog) {
    RECT area;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    CenterInRect(dialog, area);
}

// Centred on the owner, or on the screen's work area when the owner is hidden (the window may live in
// the tray only).
inline void CenterOnOwner(HWND dialog) {
    HWND owner = GetWindow(dialog, GW_OWNER);
    RECT area;
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) {
        GetWindowRect(owner, &area);
        CenterInRect(dialog, area);
    } else {
        CenterOnWorkArea(dialog);
    }
}

// For WM_COMMAND: OK and Cancel end the dialog with their own id; true when it was one of them.
inline bool EndOnOkCancel(HWND dialog, WPARAM wp) {
    const int id = LOWORD(wp);
    if (id != IDOK && id != IDCANCEL) return false;
    EndDialog(dialog, id);
    return true;
}

}  // namespace tw
