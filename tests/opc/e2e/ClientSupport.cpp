#include "ClientSupport.h"

#include <oleauto.h>

#include "Processes.h"
#include "e2e/ConfigDatabase.h"
#include "e2e/ProcessDriver.h"
#include "opc/server/ConsoleResource.h"
#include "resource.h"

namespace tw::opc::test {

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return true;
}

std::string WriteFakeDeviceConfiguration(const std::wstring& folder, int port) {
    return e2e::ExecSql(folder + L"TARNOWICK.GDB",
                        std::string(e2e::kConfigSchema) +
                            "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED) VALUES ('A plant', "
                            "'127.0.0.1', " + std::to_string(port) + ", 1, 0), ('B gone', '127.0.0.1', 1, 1, 0);"
                            "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME) "
                            "VALUES (1, 'a level', 40, 0, 'T1'), (1, 'b setpoint', 41, 0, 'T2'), "
                            "(2, 'a lost', 1, 0, 'U1');");
}

TGatewayCopy::TGatewayCopy(const std::wstring& name,
                           const std::function<std::string(const std::wstring&, int)>& configure)
    : folder(e2e::InstallCopy(name, e2e::GatewayFiles())), configured(configure(folder, device.Port())) {
    RegisterGatewayCopy(folder);
}

TGatewayCopy::~TGatewayCopy() { RestoreBuildRegistration(); }

HWND TickStartPolling(DWORD pid, DWORD timeoutMs, DWORD warningMs) {
    HWND main = e2e::WaitForWindow(pid, L"TfrmMain", timeoutMs);
    if (!main) return nullptr;
    if (warningMs)
        if (HWND warning = e2e::WaitForDialog(pid, L"simulation mode", warningMs)) e2e::PressButton(warning, L"OK");
    HWND page = GetParent(e2e::Control(main, IDC_LBXDEVICES));
    e2e::ClickTab(e2e::Control(main, IDC_PAGES), e2e::kSettingsTab);
    for (int i = 0; i < 100 && !IsWindowVisible(page); ++i) Sleep(50);
    HWND box = e2e::Control(page, IDC_CBXSTARTPOLLING);
    SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
    PostMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_CBXSTARTPOLLING, BN_CLICKED), reinterpret_cast<LPARAM>(box));
    return main;
}

HWND OpenServerConsole(DWORD pid, HWND main, DWORD timeoutMs) {
    HWND button = e2e::Control(main, IDC_BBNLOCALOPCCONSOLE);
    if (!button) return nullptr;
    PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(IDC_BBNLOCALOPCCONSOLE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    return e2e::WaitForDialogTitled(pid, L"OPC Server Console", timeoutMs);
}

bool WaitConsoleCounts(HWND console, const std::wstring& clients, const std::wstring& groups, DWORD ms) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(50))
        if (e2e::ControlText(console, IDC_CLIENTCONLBL) == clients &&
            e2e::ControlText(console, IDC_GRPCOUNTLBL) == groups)
            return true;
    return false;
}

std::vector<OPCHANDLE> AddActiveItems(IOPCItemMgt* mgt, const std::vector<const wchar_t*>& names) {
    std::vector<OPCITEMDEF> defs(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        defs[i].szItemID = const_cast<LPWSTR>(names[i]);
        defs[i].szAccessPath = const_cast<LPWSTR>(L"");
        defs[i].bActive = TRUE;
        defs[i].hClient = static_cast<OPCHANDLE>(i + 1);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    std::vector<OPCHANDLE> handles;
    if (mgt->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors) == S_OK)
        for (std::size_t i = 0; i < names.size(); ++i) handles.push_back(results[i].hServer);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return handles;
}

VARIANT I4(LONG v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}

IConnectionPoint* AdviseDataCallback(IUnknown* group, IUnknown* sink, DWORD* cookie) {
    IConnectionPointContainer* cpc = nullptr;
    if (FAILED(group->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)))) return nullptr;
    IConnectionPoint* cp = nullptr;
    const HRESULT found = cpc->FindConnectionPoint(IID_IOPCDataCallback, &cp);
    cpc->Release();
    if (FAILED(found)) return nullptr;
    if (SUCCEEDED(cp->Advise(sink, cookie))) return cp;
    cp->Release();
    return nullptr;
}

}  // namespace tw::opc::test
