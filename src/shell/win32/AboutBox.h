// The about box: "Velmora Tarnowick", "Version 1.0" (the project's version), OK.
#pragma once

#include <windows.h>

namespace tw {

// Modal; instance: the module holding the dialog resource (the exe).
void ShowAboutBox(HINSTANCE instance, HWND owner);

}  // namespace tw
