// The main window with everything it drives, from creation to the end of the message loop.
#pragma once

#include <windows.h>

#include "libs/SiblingLibraries.h"

namespace tw {

// "/StartPolling": "Start Polling" is ticked once the window is up, as an operator would tick it. The
// demo uses it to show live values where nobody can reach the window; a plain start leaves it clear.
inline constexpr wchar_t kStartPollingSwitch[] = L"StartPolling";

// Returns the exit code of the message loop.
int RunMainWindow(HINSTANCE instance, SiblingLibraries& libs, bool startPolling = false);

}  // namespace tw
