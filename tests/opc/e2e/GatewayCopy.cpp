#include "GatewayCopy.h"

#include "Processes.h"
#include "e2e/ProcessDriver.h"

namespace tw::opc::test {

TGatewayCopy::TGatewayCopy(const std::wstring& name,
                           const std::function<std::string(const std::wstring&, int)>& configure)
    : folder(e2e::InstallCopy(name, e2e::GatewayFiles())), configured(configure(folder, device.Port())) {
    RunProgram(L"regsvr32.exe /s \"" + e2e::BinFolder() + L"TarnowickPS.dll\"", 30000);
    RunProgram(L"\"" + Exe() + L"\" /RegServer", 30000);
}

TGatewayCopy::~TGatewayCopy() { RunProgram(L"\"" + e2e::BinFolder() + L"Tarnowick.exe\" /RegServer", 30000); }

}  // namespace tw::opc::test
