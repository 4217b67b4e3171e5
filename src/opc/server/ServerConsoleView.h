// The server console as a modal Win32 dialog (TfrmOPCServerConsole's view).
#pragma once

#include <windows.h>

#include "libs/General.h"
#include "opc/registration/Registry.h"

namespace tw::opc {

// The "Local OPC Server" button: shows the console modally over owner and returns when it closes.
// While it is shown, UpdateServerConsole refreshes it. Registration goes to HKEY_CLASSES_ROOT
// unless another registry is given.
void ShowServerConsole(HWND owner, IGeneral& general, IClassesRegistry* registry = nullptr);

}  // namespace tw::opc
