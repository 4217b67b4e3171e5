// The main window with everything it drives, from creation to the end of the message loop.
#pragma once

#include <windows.h>

#include "libs/SiblingLibraries.h"

namespace tw {

// Returns the exit code of the message loop.
int RunMainWindow(HINSTANCE instance, SiblingLibraries& libs);

}  // namespace tw
