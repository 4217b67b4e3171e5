// The hostile client in this process, against server objects made here over a tag table of
// simulated devices (so synchronous reads and writes never wait for a network). Two runs from the
// same seed: the first lets every lazily loaded part of the system settle; after the second the
// process must hold exactly what it held after the first, and the server nothing at all.
// TW_HOSTILE_SEED (or --hostile-seed=) and TW_HOSTILE_CALLS (--hostile-calls=) make it a long run.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "HostileMemory.h"
#include "HostileRun.h"
#include "acquisition/ModBusObjList.h"
#include "opc/ValueConvert.h"
#include "opc/server/ServIMPL.h"
#include "opc/server/ServerSlots.h"
#include "tags/TagTable.h"

namespace tw::opc::hostile {
namespace {

constexpr uint64_t kCiSeed = 20240607;
constexpr std::size_t kCiCalls = 4000;

const std::vector<std::wstring> kTags = {L"T1", L"T2", L"Pump1", L"C1", L"U1"};

class HostileInProcess : public ::testing::Test {
protected:
    void SetUp() override {
        DeviceList.Clear();
        for (int d = 0; d < 2; ++d) {
            TModBusObj& device = DeviceList.Add();
            for (std::size_t i = d == 0 ? 0 : 3; i < (d == 0 ? 3 : kTags.size()); ++i) {
                TIOPointObj& r = device.Registers[static_cast<std::size_t>(device.AddRegister())];
                r.RegisterNo = static_cast<int>(40 + i);
                r.RegisterType = kTags[i][0] == L'C' ? 1 : 0;
                r.TagName = std::string(kTags[i].begin(), kTags[i].end());
            }
        }
        BuildTagTable(DeviceList);
        for (int d = 0; d < DeviceList.Count(); ++d) DeviceList[d].Simulated = true;
    }
    void TearDown() override {
        DeviceList.Clear();
        ResetTagTable();
    }
    static TEnvironment Environment() {
        TEnvironment env;
        env.inProcess = true;
        env.createServer = [](IUnknown** server) {
            return TDA2::Create(IID_IOPCServer, reinterpret_cast<void**>(server));
        };
        env.pulse = [] { PulseServers(NowLocalDateTime()); };
        env.tagNames = kTags;
        return env;
    }
};

struct TSummary {
    std::size_t calls = 0, callbacks = 0, faults = 0;
};

// One run; its faults are appended to faultText, whose room is reserved before anything is counted,
// so that nothing of the run's own bookkeeping is alive when the process is counted.
TSummary RunOnce(const TEnvironment& env, uint64_t seed, std::size_t calls, std::string& faultText) {
    const TRunResult r = RunHostile(env, seed, calls);
    for (const std::string& f : r.distinctFaults) faultText += "  fault: " + f + "\n";
    return TSummary{r.calls, r.callbacks, r.faults};
}

void Report(const char* what, const TSummary& s, const TLeakCounts& after) {
    std::printf("%s: %zu calls, %zu callbacks, %zu faults; then %s\n", what, s.calls, s.callbacks, s.faults,
                Describe(after).c_str());
}

TEST_F(HostileInProcess, EveryCallIsAnsweredAndNothingIsKept) {
    ASSERT_TRUE(TTaskMemorySpy::Instance().Register());
    const uint64_t seed = SeedFromEnvironment(kCiSeed);
    const std::size_t calls = CountFromEnvironment("calls", kCiCalls);
    std::printf("seed %llu, %zu calls a run\n", static_cast<unsigned long long>(seed), calls);
    const TEnvironment env = Environment();
    std::string faults;
    faults.reserve(std::size_t{1} << 20);

    const TLeakCounts before = CountNow();
    std::printf("before: %s\n", Describe(before).c_str());
    const TSummary first = RunOnce(env, seed, calls, faults);
    const TLeakCounts afterFirst = CountNow();
    const TSummary second = RunOnce(env, seed, calls, faults);
    const TLeakCounts afterSecond = CountNow();
    Report("first run", first, afterFirst);
    Report("second run", second, afterSecond);
    std::printf("%s", faults.c_str());
    std::fflush(stdout);

    EXPECT_EQ(first.faults + second.faults, 0u);
    EXPECT_GE(first.calls, calls);
    for (const TLeakCounts& after : {afterFirst, afterSecond}) {
        EXPECT_EQ(after.serverObjects, before.serverObjects) << "server objects kept";
        EXPECT_EQ(after.serverSlots, 0);
        EXPECT_EQ(after.testObjects, 0) << "sinks or values the server never let go";
    }
    EXPECT_EQ(Differences(afterFirst, afterSecond), "") << "the second run kept what the first did not";
}

}  // namespace
}  // namespace tw::opc::hostile
