// What the cross-process OPC tests do as a client: wait while handling the apartment's messages,
// configure a gateway copy, tick "Start Polling" in its window, open its server console, add active
// items, make VT_I4 values.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "OPCDA.h"

namespace tw::opc::test {

// Handles window messages (callbacks arrive as messages of this apartment) until done() or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
// Device 1 is the fake device at port (T1 register 40, T2 register 41); device 2 listens nowhere (U1).
// Written into the configuration database in folder: the database's error, empty when written.
std::string WriteFakeDeviceConfiguration(const std::wstring& folder, int port);
// A fake device and a copy of the gateway in a folder of its own, configured for it (above) and
// registered so that COM starts that copy; at the end the build's own exe is registered again.
struct TGatewayCopy {
    // configure(folder, device port) writes the configuration database and returns its error, or "".
    explicit TGatewayCopy(const std::wstring& name,
                          const std::function<std::string(const std::wstring&, int)>& configure =
                              WriteFakeDeviceConfiguration);
    ~TGatewayCopy();
    TGatewayCopy(const TGatewayCopy&) = delete;
    TGatewayCopy& operator=(const TGatewayCopy&) = delete;
    std::wstring Exe() const { return folder + L"Tarnowick.exe"; }

    tw::test::TFakeDevice device;
    std::wstring folder;
    std::string configured;  // the database's error, empty when written
};
// The gateway as an operator runs it: the unreachable-device warning acknowledged (when one comes within
// warningMs), "Start Polling" ticked on the Settings page, which starts the 10 ms pulse. The main window.
HWND TickStartPolling(DWORD pid, DWORD timeoutMs, DWORD warningMs);
// The server console of a gateway, opened with its Settings page's "Local OPC Server" button; null
// when none shows within timeoutMs.
HWND OpenServerConsole(DWORD pid, HWND main, DWORD timeoutMs);
// Waits until the console shows these counts ("Clients Connected:", "Group count:").
bool WaitConsoleCounts(HWND console, const std::wstring& clients, const std::wstring& groups, DWORD ms);
// Adds the names as active items with client handles 1, 2, ...; their server handles, empty on failure.
std::vector<OPCHANDLE> AddActiveItems(IOPCItemMgt* mgt, const std::vector<const wchar_t*>& names);
VARIANT I4(LONG v);
// Advises sink on the group's IOPCDataCallback connection point: the point (held), or null on failure.
IConnectionPoint* AdviseDataCallback(IUnknown* group, IUnknown* sink, DWORD* cookie);

}  // namespace tw::opc::test
