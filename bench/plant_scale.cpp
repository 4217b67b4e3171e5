// plant_scale: the gateway's acquisition at plant size, N devices of M holding registers each, block
// reads on. A child process plays every device (one port each, on loopback; answers at once or after
// --delay-ms), so that its CPU is not the gateway's. One device in ten is unreachable: half of those
// on a port that refuses, half behind a listener whose queue is full, so that a connect gets no
// answer at all, as from a host that is gone.
//
// Figures per case: start_s (every device started, as the run controller's Start does), refresh_s
// (after every value on the devices changed, until every data point holds its new value; the worst of
// several trials), cpu_percent (of one core, steady state, this process alone), bytes_per_tag
// (resident memory the devices and points added, per tag), threads, requests_per_s (what the devices
// see), stop_s; then growth: the large case's CPU per tag over the small one's.
//
//   plant_scale [--interval-ms MS] [--delay-ms MS] [--seconds S] [--devices N --registers M]
#include "ModbusFarm.h"
#include "acquisition/ModBusObjList.h"
#include "acquisition/PollingSwitch.h"
#include "values/DataPoints.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace tw;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kMaxDevices = 4000;

enum TKind : uint8_t { Live, Refusing, Blackholed };

// Shared with the child that plays the devices.
struct TShared {
    bench::TFarmControl Farm;
    std::atomic<int> Ready;
    int Count;
    uint8_t Kind[kMaxDevices];
    int Port[kMaxDevices];
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void RaiseFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// ---- the devices, in the child ----

int ListenOn(int backlog) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, backlog) != 0) {
        std::perror("plant_scale: listen");
        std::_Exit(1);
    }
    return fd;
}

int PortOf(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

[[noreturn]] void PlayDevices(TShared& shared) {
    RaiseFileLimit();
    bench::TModbusFarm farm(shared.Farm);
    std::vector<int> held;
    for (int i = 0; i < shared.Count; ++i) {
        if (shared.Kind[i] == Refusing) {
            // A port that was free a moment ago and has nobody listening: connects are refused.
            const int fd = ListenOn(1);
            shared.Port[i] = PortOf(fd);
            close(fd);
        } else if (shared.Kind[i] == Blackholed) {
            // A queue of one, filled and never accepted: later connects get no answer.
            const int fd = ListenOn(0);
            shared.Port[i] = PortOf(fd);
            const int filler = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(static_cast<uint16_t>(shared.Port[i]));
            connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            held.push_back(fd);
            held.push_back(filler);
        } else {
            shared.Port[i] = farm.Listen();
        }
    }
    shared.Ready = 1;
    farm.Serve();
    std::_Exit(0);
}

// ---- the gateway side, in this process ----

// User and system time of this process so far.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long ResidentBytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

int Threads() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

struct TOptions {
    int IntervalMs = 1000;
    int DelayMs = 0;
    int Seconds = 10;
    int Devices = 0;  // 0: the two standard cases
    int Registers = 0;
};

struct TFigures {
    double StartS = -1, RefreshS = -1, CpuPercent = 0, BytesPerTag = 0, RequestsPerS = 0, StopS = -1;
    int Threads = 0;
    int Tags = 0;
};

// The devices that answer all hold the values of the epoch.
bool AllHold(const std::vector<int>& liveTags, int registers, uint32_t epoch) {
    for (int tag : liveTags) {
        const TPointSample s = DataPoints[static_cast<std::size_t>(tag)].Sample();
        if (s.Quality != kQualityGood || s.Value != bench::FarmValue(tag % registers, epoch)) return false;
    }
    return true;
}

template <typename Condition>
double Await(Condition condition, double limitS) {
    const auto start = Clock::now();
    while (!condition()) {
        if (Seconds(Clock::now() - start) > limitS) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return Seconds(Clock::now() - start);
}

// Starts and stops every device as the run controller does: all probed at once, all told to stop at once.
void StartAll(TModBusObjList& devices) {
    for (int i = 0; i < devices.Count(); ++i) devices[i].BeginStart();
    for (int i = 0; i < devices.Count(); ++i)
        while (!devices[i].Started()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
void StopAll(TModBusObjList& devices) {
    for (int i = 0; i < devices.Count(); ++i) devices[i].RequestStop();
    for (int i = 0; i < devices.Count(); ++i) devices[i].Stop();
}

TFigures RunCase(const TOptions& o, int deviceCount, int registers) {
    TFigures f;
    f.Tags = deviceCount * registers;
    auto* shared = static_cast<TShared*>(
        mmap(nullptr, sizeof(TShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (shared == MAP_FAILED) return f;
    new (shared) TShared{};
    shared->Count = deviceCount;
    shared->Farm.DelayUs = static_cast<uint32_t>(o.DelayMs) * 1000u;
    for (int i = 0; i < deviceCount; ++i)
        shared->Kind[i] = i % 10 != 9 ? Live : (i % 20 == 9 ? Refusing : Blackholed);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) PlayDevices(*shared);
    Await([&] { return shared->Ready.load() == 1; }, 60);

    const long residentBefore = ResidentBytes();
    TModBusObjList devices;
    std::vector<int> liveTags;
    DataPoints.Append(static_cast<std::size_t>(f.Tags));
    for (int d = 0; d < deviceCount; ++d) {
        TModBusObj& device = devices.Add();
        device.Description = "Device " + std::to_string(d + 1);
        device.SetConnection("127.0.0.1", shared->Port[d], 1);
        device.BlockReads = true;
        device.ScanIntervalMs = static_cast<uint32_t>(o.IntervalMs);
        for (int r = 0; r < registers; ++r) {
            TIOPointObj& point = device.Registers[static_cast<std::size_t>(device.AddRegister())];
            point.RegisterNo = r + 1;
            point.TagName = "D" + std::to_string(d + 1) + ".R" + std::to_string(r + 1);
            point.TagIndex = d * registers + r;
            if (shared->Kind[d] == Live) liveTags.push_back(point.TagIndex);
        }
    }
    PollingSwitch = true;  // as with /StartPolling: scanning begins with Start

    auto start = Clock::now();
    StartAll(devices);
    f.StartS = Seconds(Clock::now() - start);
    if (Await([&] { return AllHold(liveTags, registers, 0); }, 120) < 0) std::fprintf(stderr, "plant_scale: not every point turned GOOD\n");
    std::this_thread::sleep_for(std::chrono::seconds(2));

    const double cpuFrom = CpuSeconds();
    const uint64_t servedFrom = shared->Farm.Served.load();
    const auto from = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(o.Seconds));
    const double measured = Seconds(Clock::now() - from);
    f.CpuPercent = 100 * (CpuSeconds() - cpuFrom) / measured;
    f.RequestsPerS = static_cast<double>(shared->Farm.Served.load() - servedFrom) / measured;
    f.BytesPerTag = static_cast<double>(ResidentBytes() - residentBefore) / f.Tags;
    f.Threads = Threads();

    // Values change at a moment unrelated to the devices' passes; the worst of a few trials.
    for (uint32_t epoch = 1; epoch <= 4; ++epoch) {
        std::this_thread::sleep_for(std::chrono::milliseconds(137 * epoch));
        shared->Farm.Epoch = epoch;
        const double took = Await([&] { return AllHold(liveTags, registers, epoch); }, 60);
        f.RefreshS = took < 0 ? 999 : std::max(f.RefreshS, took);
    }

    start = Clock::now();
    StopAll(devices);
    f.StopS = Seconds(Clock::now() - start);
    PollingSwitch = false;
    devices.Clear();
    FreeDataPoints();
    shared->Farm.Quit = 1;
    waitpid(child, nullptr, 0);
    munmap(shared, sizeof(TShared));
    return f;
}

void Print(const char* name, int devices, int registers, const TFigures& f) {
    std::printf("%s: %d devices x %d registers (%d tags), %d unreachable\n", name, devices, registers, f.Tags,
                devices / 10);
    std::printf("  start_s: %.2f\n  refresh_s: %.2f\n  cpu_percent: %.1f\n  bytes_per_tag: %.0f\n  threads: %d\n"
                "  requests_per_s: %.0f\n  stop_s: %.2f\n",
                f.StartS, f.RefreshS, f.CpuPercent, f.BytesPerTag, f.Threads, f.RequestsPerS, f.StopS);
    std::fflush(stdout);
}

bool Parse(int argc, char** argv, TOptions& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const int n = std::atoi(argv[i + 1]);
        if (a == "--interval-ms") o.IntervalMs = n;
        else if (a == "--delay-ms") o.DelayMs = n;
        else if (a == "--seconds") o.Seconds = n;
        else if (a == "--devices") o.Devices = n;
        else if (a == "--registers") o.Registers = n;
        else return false;
    }
    return argc % 2 == 1 && o.IntervalMs >= 0 && o.DelayMs >= 0 && o.Seconds > 0 && o.Devices >= 0 &&
           o.Devices <= kMaxDevices && o.Registers >= 0 && o.Registers <= 125;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: plant_scale [--interval-ms MS] [--delay-ms MS] [--seconds S] "
                             "[--devices N --registers M]\n");
        return 2;
    }
    RaiseFileLimit();
    signal(SIGPIPE, SIG_IGN);
    std::printf("block reads on; scan interval %d ms; the devices answer after %d ms; the product's time-outs "
                "(connect 3 s, answer 3 s); CPU measured over %d s\n",
                o.IntervalMs, o.DelayMs, o.Seconds);
    if (o.Devices > 0) {
        Print("case", o.Devices, std::max(o.Registers, 1), RunCase(o, o.Devices, std::max(o.Registers, 1)));
        return 0;
    }
    const TFigures small = RunCase(o, 500, 30);
    Print("small", 500, 30, small);
    const TFigures large = RunCase(o, 1000, 100);
    Print("large", 1000, 100, large);
    const double perTagSmall = small.CpuPercent / small.Tags, perTagLarge = large.CpuPercent / large.Tags;
    std::printf("growth: %.2f\n", perTagSmall > 0 ? perTagLarge / perTagSmall : 0);
    return 0;
}
