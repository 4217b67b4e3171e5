// client_load: 31 OPC clients, each in a process of its own (opc-subscriber), each with several groups
// subscribed to every tag of a gateway copy that polls a Modbus device inside this program, whose
// every value changes all the time. Figures: item updates delivered per second, per client and in
// total; the latency from a value's change on the device to its OnDataChange in the client (stamps
// of QueryPerformanceCounter, which every process on the machine shares); the gateway's CPU.
//
// Runs under Wine from the win64 build's bin folder (cmake/wine-run.sh build/win64/bin/client_load.exe):
// it installs a copy of the gateway in the temp folder, registers it, starts it with /StartPolling,
// and at the end closes it, registers the build's own exe again and removes the copy.
//
//   client_load [--clients N] [--groups N] [--tags N] [--rate MS] [--change-ms MS] [--seconds S]
//               [--gateway PATH-OF-ANOTHER-Tarnowick.exe]
#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FakeDevice.h"
#include "Processes.h"
#include "SubscriberReport.h"
#include "e2e/ConfigDatabase.h"
#include "e2e/ProcessDriver.h"

namespace {

using tw::opc::test::TLoadStamps;

struct TOptions {
    int clients = 31;
    int groups = 4;
    int tags = 40;
    int rateMs = 100;
    int changeMs = 50;
    int seconds = 20;
    std::wstring gateway;  // empty: the build's own
};

bool Parse(int argc, wchar_t** argv, TOptions& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring a = argv[i];
        if (a == L"--gateway") {
            o.gateway = argv[i + 1];
            continue;
        }
        const int n = static_cast<int>(std::wcstol(argv[i + 1], nullptr, 10));
        if (n <= 0) return false;
        if (a == L"--clients") o.clients = std::min(n, 31);
        else if (a == L"--groups") o.groups = n;
        else if (a == L"--tags") o.tags = std::min(n, 1000);
        else if (a == L"--rate") o.rateMs = n;
        else if (a == L"--change-ms") o.changeMs = n;
        else if (a == L"--seconds") o.seconds = n;
        else return false;
    }
    return argc % 2 == 1;
}

std::wstring TagName(int i) { return L"L" + std::to_wstring(i + 1); }

// One device on this program's fake device, its registers 1..tags as tags L1..Ln.
std::string Configure(const std::wstring& folder, int port, int tags) {
    std::ostringstream sql;
    sql << tw::e2e::kConfigSchema
        << "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED) VALUES ('load', '127.0.0.1', "
        << port << ", 1, 0);INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME) VALUES ";
    for (int i = 0; i < tags; ++i)
        sql << (i ? "," : "") << "(1, 'r', " << i + 1 << ", 0, 'L" << i + 1 << "')";
    sql << ";";
    return tw::e2e::ExecSql(folder + L"TARNOWICK.GDB", sql.str());
}

LONGLONG Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

// Sums "ms:count" pairs of the reports' histograms.
void AddHistogram(const std::string& text, std::vector<unsigned long long>& into) {
    std::istringstream in(text);
    std::string pair;
    while (in >> pair) {
        const std::size_t colon = pair.find(':');
        if (colon == std::string::npos) continue;
        const std::size_t ms = std::stoul(pair.substr(0, colon));
        if (ms >= into.size()) into.resize(ms + 1, 0);
        into[ms] += std::stoull(pair.substr(colon + 1));
    }
}

double Percentile(const std::vector<unsigned long long>& hist, unsigned long long total, double p) {
    unsigned long long seen = 0;
    for (std::size_t ms = 0; ms < hist.size(); ++ms) {
        seen += hist[ms];
        if (total && static_cast<double>(seen) >= p * static_cast<double>(total)) return static_cast<double>(ms);
    }
    return 0;
}

struct TClient {
    std::wstring report;
    std::unique_ptr<tw::e2e::TProcess> process;
};

int PrintFigures(const TOptions& o, const std::vector<TClient>& clients, double measuredS, ULONGLONG cpu) {
    std::vector<double> perClient;
    unsigned long long updates = 0, callbacks = 0;
    std::vector<unsigned long long> latency;
    for (const TClient& c : clients) {
        auto report = tw::opc::test::ReadSubscriberReport(c.report);
        const long long clientUpdates = tw::opc::test::ReportNumber(report, "item_updates");
        if (clientUpdates < 0) continue;  // it never reported
        perClient.push_back(static_cast<double>(clientUpdates) / measuredS);
        updates += static_cast<unsigned long long>(clientUpdates);
        callbacks += static_cast<unsigned long long>(tw::opc::test::ReportNumber(report, "data_changes"));
        AddHistogram(report["latency_hist_ms"], latency);
    }
    if (perClient.empty() || measuredS <= 0) {
        std::fprintf(stderr, "client_load: no client reported\n");
        return 1;
    }
    std::sort(perClient.begin(), perClient.end());
    unsigned long long samples = 0;
    double sum = 0;
    for (std::size_t ms = 0; ms < latency.size(); ++ms) {
        samples += latency[ms];
        sum += static_cast<double>(ms) * static_cast<double>(latency[ms]);
    }
    std::size_t worst = latency.size();
    while (worst > 0 && latency[worst - 1] == 0) --worst;
    std::printf("clients: %d (%zu reported) groups_per_client: %d items_per_group: %d update_rate_ms: %d "
                "device_change_ms: %d measured_s: %.1f\n",
                o.clients, perClient.size(), o.groups, o.tags, o.rateMs, o.changeMs, measuredS);
    std::printf("item_updates_per_s_per_client min/median/max: %.0f / %.0f / %.0f (at most %.0f: every item of "
                "every group at every update)\n",
                perClient.front(), perClient[perClient.size() / 2], perClient.back(),
                1000.0 / o.rateMs * o.groups * o.tags);
    std::printf("callbacks_per_s: %.0f\n", static_cast<double>(callbacks) / measuredS);
    std::printf("latency_ms mean/p50/p99/max: %.1f / %.0f / %.0f / %zu (%llu item updates; device change to "
                "OnDataChange)\n",
                samples ? sum / static_cast<double>(samples) : 0.0, Percentile(latency, samples, 0.5),
                Percentile(latency, samples, 0.99), worst ? worst - 1 : 0, samples);
    std::printf("server_cpu_percent: %.0f (of one core)\n", static_cast<double>(cpu) / 1e5 / measuredS);
    std::printf("item_updates_per_s: %.0f\n", static_cast<double>(updates) / measuredS);
    std::printf("updates_per_callback: %.2f\n", callbacks ? static_cast<double>(updates) / callbacks : 0.0);
    return 0;
}

int Run(const TOptions& o) {
    tw::test::TFakeDevice device;
    const std::wstring stampsName = L"Local\\TarnowickClientLoad" + std::to_wstring(GetCurrentProcessId());
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TLoadStamps),
                                        stampsName.c_str());
    auto* stamps = mapping ? static_cast<TLoadStamps*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0)) : nullptr;
    if (!stamps) {
        std::fprintf(stderr, "client_load: no shared memory\n");
        return 1;
    }
    // Every value changes at every step; the step's stamp says when the device took it.
    std::atomic<bool> stop{false};
    std::thread changer([&] {
        for (unsigned step = 1; !stop; ++step) {
            const auto value = static_cast<uint16_t>(step % 65535 + 1);
            stamps->setAt[value] = Now();
            for (int r = 1; r <= o.tags; ++r) device.SetRegister(static_cast<uint16_t>(r), value);
            Sleep(static_cast<DWORD>(o.changeMs));
        }
    });

    const std::wstring folder = tw::e2e::InstallCopy(L"client_load", tw::e2e::GatewayFiles());
    if (!o.gateway.empty()) CopyFileW(o.gateway.c_str(), (folder + L"Tarnowick.exe").c_str(), FALSE);
    const std::string configured = Configure(folder, device.Port(), o.tags);
    int rc = configured.empty() ? 0 : 1;
    if (rc) std::fprintf(stderr, "client_load: configuration: %s\n", configured.c_str());
    if (!rc && tw::opc::test::RegisterGatewayCopy(folder) != 0) {
        std::fprintf(stderr, "client_load: the gateway copy did not register\n");
        rc = 1;
    }
    std::vector<TClient> clients;
    double measuredS = 0;
    ULONGLONG cpu = 0;
    {
        tw::e2e::TProcess gateway = tw::e2e::TProcess::Start(folder + L"Tarnowick.exe", L"/StartPolling");
        HWND main = rc ? nullptr : tw::e2e::WaitForWindow(gateway.Pid(), L"TfrmMain", 30000);
        if (!rc && !main) {
            std::fprintf(stderr, "client_load: the gateway showed no window\n");
            rc = 1;
        }
        std::wstring items;
        for (int i = 0; i < o.tags; ++i) items += (i ? L"," : L"") + TagName(i);
        for (int c = 0; !rc && c < o.clients; ++c) {
            TClient client{tw::opc::test::TempFile(L"cl"), nullptr};
            client.process = std::make_unique<tw::e2e::TProcess>(tw::e2e::TProcess::Start(
                tw::e2e::BinFolder() + tw::opc::test::kSubscriberExe,
                L"--items " + items + L" --groups " + std::to_wstring(o.groups) + L" --rate " +
                    std::to_wstring(o.rateMs) + L" --stamps " + stampsName + L" --report \"" + client.report + L"\""));
            clients.push_back(std::move(client));
        }
        for (const ULONGLONG end = GetTickCount64() + 180000; !rc;) {
            const auto waiting = std::count_if(clients.begin(), clients.end(), [](const TClient& c) {
                return !tw::opc::test::ReadSubscriberReport(c.report).count(tw::opc::test::kSubscribedLine);
            });
            if (waiting == 0) break;
            if (GetTickCount64() > end) {
                std::fprintf(stderr, "client_load: %d clients did not subscribe\n", static_cast<int>(waiting));
                rc = 1;
            }
            Sleep(200);
        }
        if (!rc) {
            Sleep(3000);  // every subscription settled
            LARGE_INTEGER frequency;
            QueryPerformanceFrequency(&frequency);
            const ULONGLONG cpuFrom = tw::opc::test::ProcessCpuTime(gateway.Pid());
            const LONGLONG from = Now();
            stamps->measureUntil = from + static_cast<LONGLONG>(o.seconds) * frequency.QuadPart;
            stamps->measureFrom = from;
            Sleep(static_cast<DWORD>(o.seconds) * 1000);
            cpu = tw::opc::test::ProcessCpuTime(gateway.Pid()) - cpuFrom;
            measuredS = static_cast<double>(Now() - from) / static_cast<double>(frequency.QuadPart);
            for (TClient& c : clients) c.process->WaitExit(60000);
        }
        if (main) tw::e2e::SendCopyData(main, "Exit");
        gateway.WaitExit(30000);
        for (TClient& c : clients) c.process.reset();  // a subscriber still running is closed
    }
    stop = true;
    changer.join();
    tw::opc::test::RestoreBuildRegistration();
    tw::e2e::RemoveCopy(folder);
    if (!rc) rc = PrintFigures(o, clients, measuredS, cpu);
    for (const TClient& c : clients) DeleteFileW(c.report.c_str());
    return rc;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    TOptions o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: client_load [--clients N] [--groups N] [--tags N] [--rate MS] [--change-ms MS] "
                             "[--seconds S] [--gateway PATH]\n");
        return 2;
    }
    if (FAILED(OleInitialize(nullptr))) return 1;
    const int rc = Run(o);
    OleUninitialize();
    return rc;
}
