// TShutDownDlg: the modal "Select Server to Shutdown..." dialog, centred on the screen.
#pragma once

#include <windows.h>

#include <vector>

#include "opc/server/ShutDownRequest.h"

namespace tw::opc {

class TShutDownDlg {
public:
    // Lists the entries in cbxServer with the first selected; the chosen entry's slot after OK, or -1.
    static int Execute(HWND owner, const std::vector<TShutDownEntry>& entries);
};

}  // namespace tw::opc
