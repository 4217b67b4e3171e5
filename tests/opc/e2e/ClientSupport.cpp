#include "ClientSupport.h"

#include <oleauto.h>

#include "e2e/ProcessDriver.h"
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
