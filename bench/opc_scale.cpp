// opc_scale: the OPC side at plant size. A gateway copy with 1,000 devices of 100 registers each
// (100,000 tags, block reads, a 1,000 ms scan interval), all played by this program's Modbus farm,
// whose every value changes once a second. One client, through the proxy: AddItems of every tag into
// one group, a flat browse of the whole address space, and a subscription at 1,000 ms.
//
// Figures: add_items_s, browse_s, first_update_s (from Advise until every item has come GOOD), the
// item updates per second, the gateway's CPU with the group active and inactive, and from the
// difference update_us_per_item: what one item update costs the gateway (update pass and callback).
//
// Runs under Wine from the win64 build's bin folder (cmake/wine-run.sh build/win64/bin/opc_scale.exe);
// it installs, registers and starts a gateway copy, and removes it again.
//
//   opc_scale [--devices N] [--registers M] [--seconds S]
#include <windows.h>
#include <ole2.h>
#include <psapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ClientSupport.h"
#include "ModbusFarm.h"
#include "OPCDA.h"
#include "Processes.h"
#include "Tarnowick.h"
#include "e2e/ConfigDatabase.h"
#include "e2e/ProcessDriver.h"
#include "opc/DataChangeSink.h"
#include "resource.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace otest = tw::opc::test;

constexpr int kFarms = 20;

struct TOptions {
    int devices = 1000;
    int registers = 100;
    int seconds = 10;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::wstring TagName(int device, int reg) {
    wchar_t name[32];
    swprintf(name, 32, L"D%04d.R%03d", device + 1, reg + 1);
    return name;
}

// Devices D0001... at the farms' ports in turn, each with registers 1..M as tags D0001.R001...
std::string Configure(const std::wstring& folder, const std::vector<int>& ports, const TOptions& o) {
    std::string devices;
    for (int d = 0; d < o.devices; ++d) {
        char row[80];
        std::snprintf(row, sizeof row, "%s('D%04d', '127.0.0.1', %d, 1, 0, 1, 1000)", d ? "," : "", d + 1,
                      ports[static_cast<std::size_t>(d) % ports.size()]);
        devices += row;
    }
    const std::string sql =
        std::string(tw::e2e::kConfigSchema) +
        "ALTER TABLE DEVICE ADD COLUMN BLOCK_READS INTEGER; ALTER TABLE DEVICE ADD COLUMN SCAN_INTERVAL_MS INTEGER;"
        "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED, BLOCK_READS, SCAN_INTERVAL_MS) VALUES " +
        devices + ";"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(o.registers) +
        ") INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME) "
        "SELECT DEVICE.ID, printf('R%03d', i), i, 0, DEVICE.DESCRIPTION || printf('.R%03d', i) FROM DEVICE, n;";
    return tw::e2e::ExecSql(folder + L"TARNOWICK.GDB", sql);
}

// Counts the subscription's item updates and which items have come GOOD.
class TSink final : public tw::opc::TDataChangeSink {
public:
    explicit TSink(std::size_t items) : good_(items, false) {}
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives on Run's stack
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD transid, OPCHANDLE, HRESULT, HRESULT, DWORD count,
                                           OPCHANDLE* clients, VARIANT*, WORD* qualities, FILETIME*, HRESULT*) override {
        if (transid != 0 || !clients || !qualities) return S_OK;
        updates += count;
        for (DWORD i = 0; i < count; ++i) {
            if (clients[i] >= good_.size() || (qualities[i] & 0xC0) != 0xC0 || good_[clients[i]]) continue;
            good_[clients[i]] = true;
            ++goodItems;
        }
        return S_OK;
    }
    unsigned long long updates = 0;
    std::size_t goodItems = 0;

private:
    std::vector<bool> good_;
};

// The gateway's resident memory (working set) in MB.
double ResidentMb(DWORD pid) {
    PROCESS_MEMORY_COUNTERS counters{};
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process) GetProcessMemoryInfo(process, &counters, sizeof counters), CloseHandle(process);
    return static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
}

template <typename T>
void Release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

int Measure(const TOptions& o, DWORD gatewayPid, const tw::bench::TFarmControl& farm) {
    const std::size_t tags = static_cast<std::size_t>(o.devices) * static_cast<std::size_t>(o.registers);
    IOPCServer* server = nullptr;
    const auto connecting = Clock::now();
    // The gateway registers its class once its window is up.
    for (int i = 0; i < 100 && FAILED(CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                                       reinterpret_cast<void**>(&server)));
         ++i)
        Sleep(300);
    if (!server) return std::fprintf(stderr, "opc_scale: no server\n"), 1;
    std::printf("connected: %.1f s after the start\n", Seconds(Clock::now() - connecting));
    std::fflush(stdout);
    OPCHANDLE group = 0;
    DWORD revised = 0;
    IUnknown* unknown = nullptr;
    if (FAILED(server->AddGroup(L"scale", TRUE, 1000, 0, nullptr, nullptr, 0, &group, &revised, IID_IOPCItemMgt,
                                &unknown)))
        return std::fprintf(stderr, "opc_scale: AddGroup failed\n"), 1;
    auto* items = static_cast<IOPCItemMgt*>(unknown);

    std::vector<std::wstring> names;
    names.reserve(tags);
    for (int d = 0; d < o.devices; ++d)
        for (int r = 0; r < o.registers; ++r) names.push_back(TagName(d, r));
    std::vector<OPCITEMDEF> defs(tags);
    for (std::size_t i = 0; i < tags; ++i) {
        defs[i] = OPCITEMDEF{};
        defs[i].szAccessPath = const_cast<LPWSTR>(L"");
        defs[i].szItemID = const_cast<LPWSTR>(names[i].c_str());
        defs[i].bActive = TRUE;
        defs[i].hClient = static_cast<OPCHANDLE>(i);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    auto start = Clock::now();
    const HRESULT added = items->AddItems(static_cast<DWORD>(tags), defs.data(), &results, &errors);
    const double addS = Seconds(Clock::now() - start);
    if (added != S_OK) return std::fprintf(stderr, "opc_scale: AddItems answered 0x%08lx\n", added), 1;
    std::printf("tags: %zu (%d devices x %d registers)\nadd_items_s: %.2f\n", tags, o.devices, o.registers, addS);
    std::fflush(stdout);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);

    IOPCBrowseServerAddressSpace* space = nullptr;
    server->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void**>(&space));
    IEnumString* found = nullptr;
    std::size_t browsed = 0;
    start = Clock::now();
    if (space && SUCCEEDED(space->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, &found)) && found) {
        std::vector<LPOLESTR> batch(10000);
        for (ULONG got = 0; SUCCEEDED(found->Next(static_cast<ULONG>(batch.size()), batch.data(), &got)) && got > 0;) {
            browsed += got;
            for (ULONG i = 0; i < got; ++i) CoTaskMemFree(batch[i]);
        }
    }
    std::printf("browse_s: %.2f (%zu names)\n", Seconds(Clock::now() - start), browsed);
    std::fflush(stdout);
    Release(found);
    Release(space);

    TSink sink(tags);
    DWORD cookie = 0;
    start = Clock::now();
    IConnectionPoint* point = otest::AdviseDataCallback(items, &sink, &cookie);
    if (!point) return std::fprintf(stderr, "opc_scale: Advise failed\n"), 1;
    // Every ten seconds: how far it got, and how much the devices were asked.
    bool allGood = false;
    for (int waited = 0; !allGood && waited < 300; waited += 10) {
        const uint64_t served = farm.Served.load();
        allGood = otest::PumpUntil([&] { return sink.goodItems == tags; }, 10000);
        if (!allGood)
            std::printf("  after %d s: %zu items GOOD, the devices answered %.0f requests a second\n", waited + 10,
                        sink.goodItems, static_cast<double>(farm.Served.load() - served) / 10);
        std::fflush(stdout);
    }
    std::printf("first_update_s: %.1f (%zu of %zu items GOOD)\ngateway_resident_mb: %.0f\n",
                Seconds(Clock::now() - start), sink.goodItems, tags, ResidentMb(gatewayPid));
    std::fflush(stdout);

    // The gateway's CPU with the subscription delivering, then with the group inactive.
    const auto cpuOver = [&](unsigned long long& updates, double& requestsPerS) {
        otest::PumpUntil([] { return false; }, 2000);
        const ULONGLONG from = otest::ProcessCpuTime(gatewayPid);
        const unsigned long long updatesFrom = sink.updates;
        const uint64_t servedFrom = farm.Served.load();
        const auto t0 = Clock::now();
        otest::PumpUntil([] { return false; }, static_cast<DWORD>(o.seconds) * 1000);
        updates = sink.updates - updatesFrom;
        requestsPerS = static_cast<double>(farm.Served.load() - servedFrom) / o.seconds;
        return static_cast<double>(otest::ProcessCpuTime(gatewayPid) - from) / 1e7 / Seconds(Clock::now() - t0);
    };
    unsigned long long activeUpdates = 0, inactiveUpdates = 0;
    double requestsPerS = 0, inactiveRequestsPerS = 0;
    const double cpuActive = cpuOver(activeUpdates, requestsPerS);
    IOPCGroupStateMgt* state = nullptr;
    items->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void**>(&state));
    BOOL inactive = FALSE;
    if (state) state->SetState(nullptr, &revised, &inactive, nullptr, nullptr, nullptr, nullptr);
    const double cpuInactive = cpuOver(inactiveUpdates, inactiveRequestsPerS);

    std::printf("item_updates_per_s: %.0f (the devices answered %.0f requests a second)\n",
                static_cast<double>(activeUpdates) / o.seconds, requestsPerS);
    std::printf("gateway_cpu_percent active/inactive: %.1f / %.1f (of one core)\n", 100 * cpuActive,
                100 * cpuInactive);
    if (activeUpdates > 0)
        std::printf("update_us_per_item: %.2f\n",
                    (cpuActive - cpuInactive) * o.seconds * 1e6 / static_cast<double>(activeUpdates));
    std::fflush(stdout);

    point->Unadvise(cookie);
    Release(point);
    Release(state);
    Release(items);
    server->RemoveGroup(group, TRUE);
    Release(server);
    return allGood && browsed == tags ? 0 : 1;
}

int Run(const TOptions& o) {
    // Under Wine every poll of many sockets is a round trip to the server: several farms of a few
    // dozen devices each keep up where one of a thousand would not.
    tw::bench::TFarmControl control;
    std::vector<std::unique_ptr<tw::bench::TModbusFarm>> farms;
    std::vector<int> ports;
    std::vector<std::thread> serving;
    for (int f = 0; f < kFarms; ++f) {
        farms.push_back(std::make_unique<tw::bench::TModbusFarm>(control));
        ports.push_back(farms.back()->Listen());
    }
    for (auto& farm : farms) serving.emplace_back([&farm] { farm->Serve(); });
    std::thread changing([&] {
        while (!control.Quit.load()) {
            Sleep(1000);
            ++control.Epoch;
        }
    });

    const std::wstring folder = tw::e2e::InstallCopy(L"opc_scale", tw::e2e::GatewayFiles());
    const std::string configured = Configure(folder, ports, o);
    int rc = configured.empty() ? 0 : 1;
    if (rc) std::fprintf(stderr, "opc_scale: configuration: %s\n", configured.c_str());
    if (!rc && otest::RegisterGatewayCopy(folder) != 0) {
        std::fprintf(stderr, "opc_scale: the gateway copy did not register\n");
        rc = 1;
    }
    if (!rc) {
        tw::e2e::TProcess gateway = tw::e2e::TProcess::Start(folder + L"Tarnowick.exe", L"/StartPolling");
        const auto start = Clock::now();
        HWND main = tw::e2e::WaitForWindow(gateway.Pid(), L"TfrmMain", 300000);
        if (main) {
            std::printf("gateway_window_s: %.1f (configuration loaded, tag table built; %.0f MB resident)\n",
                        Seconds(Clock::now() - start), ResidentMb(gateway.Pid()));
            std::fflush(stdout);
            // Two seconds after the window, the gateway starts every device; the log says when all are.
            std::wstring log;
            const auto shown = Clock::now();
            for (int i = 0; i < 600 && log.find(L"All enabled devices successfully started!") == std::wstring::npos; ++i) {
                Sleep(1000);
                log = tw::e2e::ControlText(main, IDC_MMOLOG);
            }
            std::size_t simulated = 0;
            for (std::size_t at = 0; (at = log.find(L"started in Simulation mode!", at)) != std::wstring::npos; ++at)
                ++simulated;
            std::printf("gateway_start_s: %.1f (from the window to every device started; %zu simulated)\n",
                        Seconds(Clock::now() - shown), simulated);
            std::fflush(stdout);
            rc = Measure(o, gateway.Pid(), control);
            tw::e2e::SendCopyData(main, "Exit");
        } else {
            std::fprintf(stderr, "opc_scale: the gateway showed no window\n");
            rc = 1;
        }
        gateway.WaitExit(60000);
    }
    control.Quit = 1;
    for (std::thread& t : serving) t.join();
    changing.join();
    otest::RestoreBuildRegistration();
    tw::e2e::RemoveCopy(folder);
    return rc;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    TOptions o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring a = argv[i];
        const int n = static_cast<int>(std::wcstol(argv[i + 1], nullptr, 10));
        if (n <= 0) return std::fprintf(stderr, "usage: opc_scale [--devices N] [--registers M] [--seconds S]\n"), 2;
        if (a == L"--devices") o.devices = std::min(n, 9999);
        else if (a == L"--registers") o.registers = std::min(n, 999);
        else if (a == L"--seconds") o.seconds = n;
    }
    if (FAILED(OleInitialize(nullptr))) return 1;
    const int rc = Run(o);
    OleUninitialize();
    return rc;
}
