// What the cross-process OPC tests do as a client: wait while handling the apartment's messages,
// tick "Start Polling" in a gateway's window, add active items, make VT_I4 values.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "OPCDA.h"

namespace tw::opc::test {

// Handles window messages (callbacks arrive as messages of this apartment) until done() or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
// The gateway as an operator runs it: the unreachable-device warning acknowledged (when one comes within
// warningMs), "Start Polling" ticked on the Settings page, which starts the 10 ms pulse. The main window.
HWND TickStartPolling(DWORD pid, DWORD timeoutMs, DWORD warningMs);
// Adds the names as active items with client handles 1, 2, ...; their server handles, empty on failure.
std::vector<OPCHANDLE> AddActiveItems(IOPCItemMgt* mgt, const std::vector<const wchar_t*>& names);
VARIANT I4(LONG v);
// Advises sink on the group's IOPCDataCallback connection point: the point (held), or null on failure.
IConnectionPoint* AdviseDataCallback(IUnknown* group, IUnknown* sink, DWORD* cookie);

}  // namespace tw::opc::test
