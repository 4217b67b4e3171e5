// The 10 ms update pass at full scale: 31 server objects x 10 groups x 1,000 active items (310,000
// items) on one pulse, every group due on every pass and advised to a sink that each server object's
// delivery thread calls. Measured idle (no value changes) and with every value changing (310 data
// changes of 1,000 items each, handed to 31 delivery threads); the delivery itself is not timed.
// Runs under Wine in the Windows build; the pass itself makes no system calls but the threads' wake-up.
// --scaled: every other tag is scaled into engineering units and every group has a 1 % deadband, which
// the changing values (7 raw counts a pass of 0..65535 as 0..100) never leave: those items are
// refreshed and filtered on every pass, never reported.
#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "OPCDA.h"
#include "opc/DataChangeSink.h"
#include "acquisition/ModBusObjList.h"
#include "opc/groups/GroupUnit.h"
#include "opc/server/ServIMPL.h"
#include "opc/server/ServerSlots.h"
#include "values/DataPoints.h"
#include "tags/TagTable.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kServers = 31;
constexpr int kGroups = 10;
constexpr int kItems = 1000;
constexpr int kPasses = 50;
constexpr double kBudgetMs = 10.0;

// Counts what it receives and keeps nothing. It marshals itself with the free-threaded marshaler, as
// a remote client's proxy answers IMarshal: the pass hands its callbacks to the server objects'
// delivery threads, the product's path, and each thread calls it directly.
class TCountingSink final : public tw::opc::TDataChangeSink {
public:
    TCountingSink() { CoCreateFreeThreadedMarshaler(static_cast<IOPCDataCallback*>(this), &marshaler_); }
    ~TCountingSink() override {
        if (marshaler_) marshaler_->Release();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IMarshal) && ppv) return marshaler_->QueryInterface(riid, ppv);
        return TDataChangeSink::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount, OPCHANDLE*, VARIANT*,
                                           WORD*, FILETIME*, HRESULT*) override {
        items += dwCount;
        return S_OK;
    }

    std::atomic<long long> items{0};

private:
    IUnknown* marshaler_ = nullptr;
};

void Fail(const char* what) {
    std::fprintf(stderr, "update_pass: %s\n", what);
    std::exit(1);
}

bool scaled = false;

void BuildTags() {
    tw::TModBusObj& device = tw::DeviceList.Add();
    for (int i = 0; i < kItems; ++i) {
        tw::TIOPointObj& r = device.Registers[static_cast<size_t>(device.AddRegister())];
        r.RegisterNo = i + 1;
        r.TagName = "Tank" + std::to_string(1000 + i);
        if (scaled && i % 2 == 0) r.Scaling = tw::TScaling{true, 0, 65535, 0, 100, false};
    }
    tw::BuildTagTable(tw::DeviceList);
    // Good values to start from, so that the changing passes change values only.
    for (int i = 0; i < kItems; ++i) tw::DataPoints[static_cast<size_t>(i)].Store(static_cast<uint16_t>(i + 1), tw::kQualityGood);
}

void AddGroupWithItems(IOPCServer* server, int index, TCountingSink& sink, std::vector<IUnknown*>& held) {
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    IUnknown* group = nullptr;
    const std::wstring name = L"G" + std::to_wstring(index);
    FLOAT deadband = 1.0f;
    if (server->AddGroup(name.c_str(), TRUE, 10, 1, nullptr, scaled ? &deadband : nullptr, 0x409, &handle, &revised,
                         IID_IOPCItemMgt, &group) != S_OK)
        Fail("AddGroup");
    held.push_back(group);
    std::vector<std::wstring> names(kItems);
    std::vector<OPCITEMDEF> defs(kItems);
    for (int i = 0; i < kItems; ++i) {
        names[static_cast<size_t>(i)] = L"Tank" + std::to_wstring(1000 + i);
        OPCITEMDEF& d = defs[static_cast<size_t>(i)];
        d = OPCITEMDEF{};
        d.szAccessPath = const_cast<LPWSTR>(L"");
        d.szItemID = const_cast<LPWSTR>(names[static_cast<size_t>(i)].c_str());
        d.bActive = TRUE;
        d.hClient = static_cast<OPCHANDLE>(i);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    if (static_cast<IOPCItemMgt*>(group)->AddItems(kItems, defs.data(), &results, &errors) != S_OK) Fail("AddItems");
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    IConnectionPointContainer* cpc = nullptr;
    IConnectionPoint* cp = nullptr;
    DWORD cookie = 0;
    if (FAILED(group->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc))) ||
        FAILED(cpc->FindConnectionPoint(IID_IOPCDataCallback, &cp)) || FAILED(cp->Advise(&sink, &cookie)))
        Fail("Advise");
    cp->Release();
    cpc->Release();
}

void Delivered() {
    if (!tw::opc::FlushDeliveries(60000)) Fail("the callbacks were not delivered");
}

// Milliseconds of each pulse; change(pass) runs before each pass, and the delivery of its callbacks
// after it, outside the timing.
template <class Change>
std::vector<double> TimePasses(Change change) {
    std::vector<double> ms;
    for (int pass = 0; pass < kPasses; ++pass) {
        change(pass);
        const auto start = Clock::now();
        tw::opc::PulseServers(45000.5);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        Delivered();
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    scaled = argc > 1 && std::wstring(argv[1]) == L"--scaled";
    if (FAILED(OleInitialize(nullptr))) Fail("OleInitialize");
    BuildTags();
    TCountingSink sink;
    std::vector<IOPCServer*> servers;
    std::vector<IUnknown*> held;
    for (int s = 0; s < kServers; ++s) {
        IOPCServer* server = nullptr;
        if (tw::opc::TDA2::Create(IID_IOPCServer, reinterpret_cast<void**>(&server)) != S_OK) Fail("server");
        servers.push_back(server);
        for (int g = 0; g < kGroups; ++g) AddGroupWithItems(server, g, sink, held);
    }
    const double items = static_cast<double>(kServers) * kGroups * kItems;
    tw::opc::PulseServers(45000.5);  // the first due pass reports every item
    Delivered();
    if (sink.items != static_cast<long long>(items)) Fail("the first pass did not report every item");

    const std::vector<double> idle = TimePasses([](int) {});
    sink.items = 0;
    const std::vector<double> changing = TimePasses([](int pass) {
        for (int i = 0; i < kItems; ++i)
            tw::DataPoints[static_cast<size_t>(i)].Store(static_cast<uint16_t>((pass + 1) * 7 + i + 1), tw::kQualityGood);
    });
    // Scaled items move within their deadband: only the others are reported.
    if (sink.items != static_cast<long long>(scaled ? items / 2 : items) * kPasses) Fail("a changing pass missed items");

    const double idleMs = idle[idle.size() / 2];
    const double changingMs = changing[changing.size() / 2];
    std::printf("servers: %d groups_per_server: %d items_per_group: %d items: %.0f passes: %d%s\n", kServers, kGroups,
                kItems, items, kPasses, scaled ? " (half scaled, 1 % deadband)" : "");
    std::printf("idle_pass_ms min/median/max: %.3f / %.3f / %.3f (%.1f%% of the 10 ms budget)\n", idle.front(),
                idleMs, idle.back(), 100.0 * idleMs / kBudgetMs);
    std::printf("changing_pass_ms min/median/max: %.3f / %.3f / %.3f (%.1f%% of the 10 ms budget)\n",
                changing.front(), changingMs, changing.back(), 100.0 * changingMs / kBudgetMs);
    std::printf("changing_ns_per_item: %.2f\n", changingMs * 1e6 / items);
    std::printf("idle_pass_ms: %.3f\n", idleMs);
    std::printf("changing_pass_ms: %.3f\n", changingMs);
    std::printf("idle_ns_per_item: %.2f\n", idleMs * 1e6 / items);

    for (IUnknown* g : held) g->Release();
    for (IOPCServer* s : servers) s->Release();
    OleUninitialize();
    return 0;
}
