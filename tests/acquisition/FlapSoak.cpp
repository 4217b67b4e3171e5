// Flap soak: one device polls many registers and coils while its server, cycle after cycle, refuses
// connections, accepts and drops them, answers late, answers twice, answers in one-byte segments,
// resets mid-answer or answers with an exception. Every value a data point holds must be one the server
// sent for that very register (or 0, a failed read); sockets and threads must be back to their number
// before; every Stop must return within its bound.
// Short under ctest; the long run: tw_acquisition_flap_soak --cycles=N --seconds=S (README).
#include "DeviceTestSupport.h"

#include <dirent.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>

namespace tw::test {
namespace {

struct TLimits {
    long Cycles = 2000;
    int Seconds = 10;
} Limits;  // from the command line

constexpr uint32_t AnswerMs = 30;    // TimeOut of the device's clients
constexpr int32_t FurtherMs = 15;    // ReadTimeout
constexpr int32_t ConnectMs = 200;   // ConnectTimeOut
constexpr int LateMs = AnswerMs + FurtherMs + 20;
// A register read in progress (a connect, one more for a connection found out of step, both waits of
// the answer) and the scan loop's own pauses; a second of slack for sanitizers on a busy machine.
constexpr auto StopBound = std::chrono::milliseconds(2 * ConnectMs + AnswerMs + FurtherMs + 20 + 1000);

int CountEntries(const char* folder) {
    int count = 0;
    if (DIR* dir = opendir(folder)) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count;
}

enum TFlap { Normal, Twice, TwiceLater, OneByteSegments, Late, Drop, ResetMidAnswer, Exception, FlapKinds };
const char* const FlapNames[] = {"normal",          "twice at once", "twice, copy later", "one-byte segments",
                                 "late",            "dropped",       "reset mid-answer",  "exception"};
const int FlapWeights[] = {50, 8, 8, 8, 3, 5, 5, 4};

// The server: a fresh value for every register it answers, all recorded, so that any value found in a
// data point can be traced to the register it was sent for.
class TFlappingDevice {
public:
    explicit TFlappingDevice(uint32_t seed) : Random(seed), Flaps(std::begin(FlapWeights), std::end(FlapWeights)) {
        // Below the system's range for outgoing ports, so that refusing is safe (TScriptedServer::Refuse).
        int low = 32768;
        std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> low;
        for (int attempt = 0; !Server; ++attempt) {
            try {
                Server = std::make_unique<TScriptedServer>([this](const TRequest& r) { return Answer(r); },
                                                           10000 + static_cast<int>(Random() % (low - 10000)));
            } catch (const ESocketError&) {
                if (attempt == 50) throw;
            }
        }
    }
    int Port() const { return Server->Port(); }
    bool Refuse(bool refusing) {
        if (refusing) Count(Refusals);
        return Server->Refuse(refusing);
    }
    bool Sent(bool coil, uint16_t number, uint16_t value) const {
        std::lock_guard<std::mutex> lock(Guard);
        const auto found = SentValues.find({coil, static_cast<uint16_t>(number - 1)});
        return found != SentValues.end() && found->second[value];
    }
    long Cycles() const {
        std::lock_guard<std::mutex> lock(Guard);
        long cycles = 0;
        for (long c : Counts) cycles += c;
        return cycles;
    }
    std::vector<long> Counted() const {
        std::lock_guard<std::mutex> lock(Guard);
        return {Counts.begin(), Counts.end()};
    }

private:
    static constexpr int Refusals = FlapKinds;

    void Count(int kind) {
        std::lock_guard<std::mutex> lock(Guard);
        ++Counts[static_cast<std::size_t>(kind)];
    }
    TBytes Values(const TRequest& request) {
        const bool coil = request[7] == 1;
        const auto address = static_cast<uint16_t>(request[8] << 8 | request[9]);
        std::vector<bool>& sent = SentValues[{coil, address}];
        sent.resize(65536);
        if (coil) {
            const bool on = Random() & 1;
            sent[on] = true;
            return Frame(request[6], 1, {1, static_cast<uint8_t>(on)});
        }
        // The low bits name the register, so that a value that lands elsewhere cannot pass.
        Sequence = static_cast<uint16_t>(Sequence % 511 + 1);
        const auto value = static_cast<uint16_t>(Sequence << 7 | (address & 0x7F));
        sent[value] = true;
        return RegisterAnswer(request[6], {value});
    }
    TReply Answer(const TRequest& request) {
        std::lock_guard<std::mutex> lock(Guard);
        const auto flap = static_cast<TFlap>(Flaps(Random));
        ++Counts[flap];
        if (flap == Drop) return HangUp();
        if (flap == Exception) return Send(Frame(request[6], static_cast<uint8_t>(request[7] | 0x80), {4}));
        const TBytes answer = Values(request);
        switch (flap) {
        case Twice: return TReply{{{answer, 0}, {answer, 0}}};
        case TwiceLater: return TReply{{{answer, 0}, {answer, 1 + static_cast<int>(Random() % 20)}}};
        case Late: return TReply{{{answer, LateMs}}};
        case OneByteSegments: {
            TReply reply;
            for (uint8_t byte : answer) reply.Steps.push_back({{byte}, reply.Steps.empty() ? 0 : 1});
            return reply;
        }
        case ResetMidAnswer: {
            TReply reply{{{TBytes(answer.begin(), answer.begin() + 5), 0}}};
            reply.Reset = true;
            return reply;
        }
        default: return Send(answer);
        }
    }

    mutable std::mutex Guard;
    std::mt19937 Random;
    std::discrete_distribution<int> Flaps;
    uint16_t Sequence = 0;
    std::map<std::pair<bool, uint16_t>, std::vector<bool>> SentValues;  // by kind and wire address
    std::array<long, FlapKinds + 1> Counts{};                           // per flap, and refusal windows
    std::unique_ptr<TScriptedServer> Server;                            // last: stops before the rest goes
};

struct TFigures {
    long Samples = 0;
    long ValuesChecked = 0;
    long Misattributed = 0;
    int Stops = 0;
    std::chrono::milliseconds StopMax{0};
};

class FlapSoak : public DeviceTest {};

TEST_F(FlapSoak, ValuesStayWithTheirRegistersAndNothingLeaks) {
    std::thread([] {}).join();  // a sanitizer's own thread starts with the first thread: count it before
    const int socketsBefore = CountEntries("/proc/self/fd");
    const int threadsBefore = CountEntries("/proc/self/task");
    const uint32_t seed = static_cast<uint32_t>(std::random_device{}());
    TFigures figures;
    std::vector<long> counted;
    const auto start = std::chrono::steady_clock::now();
    {
        TFlappingDevice server(seed);
        TModBusObj device;
        device.SetConnection("127.0.0.1", server.Port(), 1);
        for (TIdModBusClient* client : {&device.ReadClient, &device.WriteClient, &device.PollClient}) {
            client->TimeOut = AnswerMs;
            client->ReadTimeout = FurtherMs;
            client->ConnectTimeOut = ConnectMs;
        }
        for (int n = 1; n <= 40; ++n) AddPoint(device, n);
        for (int n = 101; n <= 108; ++n) AddPoint(device, n, 1);

        // A GOOD point holds a value the server sent for its register; a point whose reads failed keeps
        // its last good value, so it holds 0 only while no value has been obtained yet.
        const auto check = [&](int index) {
            const TIOPointObj& point = device.Registers[static_cast<std::size_t>(index)];
            const TPointSample sample = DataPoints[static_cast<std::size_t>(point.TagIndex)].Sample();
            ++figures.Samples;
            const bool knownQuality = sample.Quality == kQualityGood || sample.Quality == kQualityCommFailure ||
                                      sample.Quality == kQualityConfigError || sample.Quality == kQualityNotConnected;
            if (!knownQuality && ++figures.Misattributed <= 5) ADD_FAILURE() << "quality " << sample.Quality;
            if (sample.Value == 0 && sample.Quality != kQualityGood) return;
            ++figures.ValuesChecked;
            if (server.Sent(point.RegisterType != 0, static_cast<uint16_t>(point.RegisterNo), sample.Value)) return;
            if (++figures.Misattributed <= 5)
                ADD_FAILURE() << "register " << point.RegisterNo << " holds " << sample.Value << " (quality "
                              << sample.Quality << "), never sent for it";
        };
        const auto stop = [&] {
            const auto begun = std::chrono::steady_clock::now();
            device.Stop();
            const auto took =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begun);
            figures.StopMax = std::max(figures.StopMax, took);
            ++figures.Stops;
            EXPECT_LE(took, StopBound);
        };

        PollingSwitch = true;
        ASSERT_TRUE(device.Start());
        ASSERT_FALSE(device.Simulated);
        std::mt19937 random(seed);
        auto lastRefusal = start;
        auto lastRestart = start;
        const auto end = start + std::chrono::seconds(Limits.Seconds);
        while (server.Cycles() < Limits.Cycles && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            for (int i = 0; i < static_cast<int>(device.Registers.size()); ++i) check(i);
            const auto now = std::chrono::steady_clock::now();
            if (random() % 20 == 0) {
                const int i = static_cast<int>(random() % device.Registers.size());
                device.ReadRegisterNow(i);
                check(i);
            }
            if (now - lastRefusal > std::chrono::milliseconds(150)) {
                ASSERT_TRUE(server.Refuse(true));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                ASSERT_TRUE(server.Refuse(false));
                lastRefusal = now;
            }
            if (now - lastRestart > std::chrono::milliseconds(700)) {
                stop();
                device.Start();
                ASSERT_FALSE(device.Simulated);  // the server was listening: the probe reached it
                lastRestart = now;
            }
        }
        stop();
        counted = server.Counted();
    }
    const int socketsAfter = CountEntries("/proc/self/fd");
    const int threadsAfter = CountEntries("/proc/self/task");

    long cycles = 0;
    for (long c : counted) cycles += c;
    std::printf("flap soak: seed %u, %.1f s\n", seed,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    for (int kind = 0; kind < FlapKinds; ++kind) std::printf("  %-18s %ld\n", FlapNames[kind], counted[kind]);
    std::printf("  %-18s %ld\n", "refused (windows)", counted[FlapKinds]);
    std::printf("cycles: %ld\nvalues_checked: %ld (of %ld samples)\nmisattributed: %ld\n", cycles,
                figures.ValuesChecked, figures.Samples, figures.Misattributed);
    std::printf("sockets_leaked: %d\nthreads_leaked: %d\nstops: %d, longest %lld ms (bound %lld ms)\n",
                socketsAfter - socketsBefore, threadsAfter - threadsBefore, figures.Stops,
                static_cast<long long>(figures.StopMax.count()), static_cast<long long>(StopBound.count()));

    EXPECT_EQ(figures.Misattributed, 0);
    EXPECT_EQ(socketsAfter, socketsBefore);
    EXPECT_EQ(threadsAfter, threadsBefore);
    EXPECT_GT(figures.ValuesChecked, 0);
    for (int kind = 0; kind <= FlapKinds; ++kind) EXPECT_GT(counted[kind], 0) << "no cycle of kind " << kind;
}

}  // namespace
}  // namespace tw::test

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--cycles=", 9) == 0) tw::test::Limits.Cycles = std::atol(argv[i] + 9);
        if (std::strncmp(argv[i], "--seconds=", 10) == 0) tw::test::Limits.Seconds = std::atoi(argv[i] + 10);
    }
    return RUN_ALL_TESTS();
}
