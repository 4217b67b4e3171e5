// Stand-in for Tarnowick.exe in the console's end-to-end tests: the COM server layer, a small tag
// table and the pulse timer, with the server console as the program's window; closing the console
// ends the program.
#include <windows.h>
#include <ole2.h>

#include "../FakeGeneral.h"
#include "acquisition/ModBusObjList.h"
#include "opc/ValueConvert.h"
#include "opc/registration/ComServer.h"
#include "opc/server/ServerConsoleView.h"
#include "opc/server/ServerSlots.h"
#include "tags/TagTable.h"

namespace {

class TQuietGeneral final : public tw::opc::test::TStubGeneral {
public:
    int ShowMsg(const std::string&, int, int, int) override { return tw::mrYes; }
};

void CALLBACK PulseTimer(HWND, UINT, UINT_PTR, DWORD) { tw::opc::PulseServers(tw::opc::NowLocalDateTime()); }

void BuildTags() {
    tw::TModBusObj& device = tw::DeviceList.Add();
    for (const char* name : {"Pump1", "pump2", "Valve"})
        device.Registers[static_cast<size_t>(device.AddRegister())].TagName = name;
    tw::BuildTagTable(tw::DeviceList);
    tw::DataPoints[0].Store(321, tw::kQualityGood);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    if (FAILED(OleInitialize(nullptr))) return 1;
    TQuietGeneral general;
    BuildTags();
    {
        tw::opc::TComServer server(commandLine, general);
        if (server.Initialize()) {
            const UINT_PTR timer = SetTimer(nullptr, 0, 10, PulseTimer);
            tw::opc::ShowServerConsole(nullptr, general);
            KillTimer(nullptr, timer);
        }
        server.Shutdown();
    }
    OleUninitialize();
    tw::DeviceList.Clear();
    return 0;
}
