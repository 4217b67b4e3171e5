#include "HostileRun.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "HostileCall.h"
#include "HostileObjects.h"

namespace tw::opc::hostile {
namespace {

// Objects of each kind the client holds at most; more are let go before the next call.
constexpr std::size_t kMaxServers = 3, kMaxGroups = 10, kMaxEnumerators = 4, kMaxPoints = 6;
constexpr ULONGLONG kHungMs = 120000;

TRun* activeRun = nullptr;

// A crash or a hang names the call that caused it and the seed that reproduces it.
LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
    if (activeRun)
        std::fprintf(stderr, "hostile: exception 0x%08lX in %s (seed %llu, after %zu calls)\n",
                     info->ExceptionRecord->ExceptionCode, activeRun->current,
                     static_cast<unsigned long long>(activeRun->seed), activeRun->result.calls);
    std::fflush(stderr);
    return EXCEPTION_CONTINUE_SEARCH;
}

std::string Option(const char* name) {
    const std::string flag = std::string("--hostile-") + name + "=";
    for (int i = 1; i < __argc; ++i)
        if (std::string(__argv[i]).rfind(flag, 0) == 0) return std::string(__argv[i]).substr(flag.size());
    std::string variable = std::string("TW_HOSTILE_") + name;
    std::transform(variable.begin(), variable.end(), variable.begin(),
                   [](char ch) { return ch == '-' ? '_' : ::toupper(ch); });
    const char* value = std::getenv(variable.c_str());
    return value ? value : "";
}

// TW_HOSTILE_METHODS (or --hostile-methods=): only the rows whose name contains one of these
// comma-separated texts, beside the rows that pick their own target; for narrowing a fault down.
bool Chosen(const TMethod& m) {
    static const std::string only = Option("methods");
    if (only.empty() || m.target == TKind::World) return true;
    for (std::size_t at = 0; at <= only.size();) {
        const std::size_t comma = std::min(only.find(',', at), only.size());
        if (comma > at && std::string(m.name).find(only.substr(at, comma - at)) != std::string::npos) return true;
        at = comma + 1;
    }
    return false;
}

const TMethod& PickWeighted(TRun& run) {
    const auto& methods = Methods();
    static const int total = [&] {
        int sum = 0;
        for (const TMethod& m : methods)
            if (Chosen(m)) sum += m.weight;
        return sum;
    }();
    int at = static_cast<int>(run.rng.Below(static_cast<uint32_t>(total)));
    for (const TMethod& m : methods) {
        if (!Chosen(m)) continue;
        if (at < m.weight) return m;
        at -= m.weight;
    }
    return methods.front();
}

}  // namespace

TRun::TRun(const TEnvironment& environment, uint64_t s)
    : env(environment), rng(s), world(*this), seed(s), trace(!Option("trace").empty()) {}

TRun::~TRun() = default;

void TRun::Fault(const std::string& method, const std::string& text) {
    ++result.faults;
    const std::string key = method + ": " + text;
    if (std::find(seen_.begin(), seen_.end(), key) != seen_.end()) return;
    seen_.push_back(key);
    result.distinctFaults.push_back(key + " (seed " + std::to_string(seed) + ", call " + std::to_string(result.calls) +
                                    ")");
}

void TRun::RunOne(const TMethod& method, int nullSlot) {
    std::shared_ptr<TObject> target;
    if (method.target != TKind::World) {
        target = Prepare(*this, method.target);
        if (!target) return;
    }
    TCall call(*this, method, target, nullSlot);
    const char* outer = Hooks().call;
    Hooks().call = method.name;
    Hooks().callNumber = result.calls + 1;
    method.call(call);
    Hooks().call = outer;
}

void TRun::Reenter(const char*) {
    if (depth == 0 || nested || !rng.OneIn(4)) return;
    nested = true;
    const TMethod& m = PickWeighted(*this);
    RunOne(m, TCall::kRandomNulls);
    nested = false;
}

TRunResult RunHostile(const TEnvironment& env, uint64_t seed, std::size_t calls) {
    TRunResult result;
    {
        TRun run(env, seed);
        activeRun = &run;
        const long callbacksBefore = TSink::Callbacks();
        Hooks().fault = [&run](const std::string& text) { run.Fault(run.current, text); };
        Hooks().reenter = [&run](const char* where) { run.Reenter(where); };
        LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(OnCrash);
        std::atomic<bool> done{false};
        std::thread watchdog([&] {
            while (!done.load()) {
                Sleep(200);
                const ULONGLONG started = run.callStarted;
                if (started && GetTickCount64() - started > kHungMs) {
                    std::fprintf(stderr, "hostile: %s has not returned for %llu s (seed %llu, after %zu calls)\n",
                                 run.current, static_cast<unsigned long long>(kHungMs / 1000),
                                 static_cast<unsigned long long>(seed), run.result.calls);
                    std::fflush(stderr);
                    TerminateProcess(GetCurrentProcess(), 97);
                }
            }
        });

        // Every method once with every pointer given, then once with each pointer NULL.
        for (const TMethod& m : Methods())
            for (int slot = -1; Chosen(m) && slot < m.pointers && !(env.stop && env.stop()); ++slot)
                run.RunOne(m, slot);
        while (run.result.calls < calls && !(env.stop && env.stop())) {
            run.world.Trim(TKind::Server, kMaxServers);
            run.world.Trim(TKind::Group, kMaxGroups);
            for (TKind k : {TKind::EnumString, TKind::EnumUnknown, TKind::EnumItemAttributes,
                            TKind::EnumConnectionPoints, TKind::EnumConnections})
                run.world.Trim(k, kMaxEnumerators);
            run.world.Trim(TKind::Point, kMaxPoints);
            run.RunOne(PickWeighted(run), TCall::kRandomNulls);
        }
        run.world.ReleaseEverything();
        // Whatever the server still owes (callbacks of queued requests) it may now send or drop.
        for (int i = 0; i < 5; ++i) env.pulse();

        done = true;
        watchdog.join();
        SetUnhandledExceptionFilter(previous);
        Hooks().fault = nullptr;
        Hooks().reenter = nullptr;
        activeRun = nullptr;
        result = run.result;
        result.callbacks = static_cast<std::size_t>(TSink::Callbacks() - callbacksBefore);
    }
    return result;
}

uint64_t SeedFromEnvironment(uint64_t fallback) {
    const std::string value = Option("seed");
    if (value.empty()) return fallback;
    if (value == "random") {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<uint64_t>(now.QuadPart) ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32);
    }
    return std::strtoull(value.c_str(), nullptr, 10);
}

std::size_t CountFromEnvironment(const char* name, std::size_t fallback) {
    const std::string value = Option(name);
    return value.empty() ? fallback : static_cast<std::size_t>(std::strtoull(value.c_str(), nullptr, 10));
}

}  // namespace tw::opc::hostile
