// One device of 1,000 points whose answers take 2 ms, as on a plant network: the time of a scan pass
// with one request per register and with block reads; and, once the device's host stops answering
// altogether, how soon its points turn BAD and how soon they are GOOD again after it comes back.
#include "LoopbackModbusServer.h"
#include "acquisition/ModBusObj.h"
#include "acquisition/PollingSwitch.h"
#include "values/DataPoints.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace tw;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto AnswerDelay = std::chrono::milliseconds(2);
constexpr int HoldingRegisters = 900;  // numbers 1-900
constexpr int Coils = 100;             // numbers 1-100
constexpr int Points = HoldingRegisters + Coils;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A device object for the server's port with the product's own time-outs, its points from 0 on.
void Configure(TModBusObj& device, int port, bool blockReads) {
    FreeDataPoints();
    DataPoints.Append(Points);
    device.SetConnection("127.0.0.1", port, 1);
    device.BlockReads = blockReads;
    for (int i = 0; i < Points; ++i) {
        TIOPointObj& point = device.Registers[static_cast<std::size_t>(device.AddRegister())];
        point.RegisterNo = i < HoldingRegisters ? i + 1 : i - HoldingRegisters + 1;
        point.RegisterType = i < HoldingRegisters ? 0 : 1;
        point.TagIndex = i;
    }
}

bool AllPoints(bool good) {
    for (int i = 0; i < Points; ++i)
        if (IsGoodQuality(DataPoints[static_cast<std::size_t>(i)].Quality()) != good) return false;
    return true;
}

// Waits until the condition holds; the time it took, or a negative number after the limit.
template <typename Condition>
double Await(Condition condition, double limitS = 120) {
    const auto start = Clock::now();
    while (!condition()) {
        if (Seconds(Clock::now() - start) > limitS) return -1;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return Seconds(Clock::now() - start);
}

// A device scanning the points of a loopback server that answers after AnswerDelay, polling on.
struct TScanningDevice {
    bench::TLoopbackModbusServer Server;
    TModBusObj Device;
    bool Ready = false;  // a first pass has read every point

    explicit TScanningDevice(bool blockReads, std::chrono::microseconds delay = AnswerDelay) {
        Server.SetAnswerDelay(delay);
        Configure(Device, Server.Port(), blockReads);
        Device.Start();
        PollingSwitch = true;
        Ready = Await([] { return AllPoints(true); }) >= 0;
    }
    ~TScanningDevice() {
        PollingSwitch = false;
        Device.Stop();
    }
};

// Seconds a pass takes, averaged over whole passes, which the server's count of requests tells apart:
// a pass sends a known number of them.
double PassTime(bool blockReads, int passes, std::chrono::microseconds delay = AnswerDelay) {
    TScanningDevice scanning(blockReads, delay);
    if (!scanning.Ready) return 0;
    const long perPass = blockReads ? (HoldingRegisters + 124) / 125 + (Coils + 1999) / 2000 : Points;
    const long from = scanning.Server.Requests() + perPass;
    Await([&] { return scanning.Server.Requests() >= from; });
    const auto start = Clock::now();
    Await([&] { return scanning.Server.Requests() >= from + passes * perPass; });
    return Seconds(Clock::now() - start) / passes;
}

struct TDeadTrial {
    double BadS = -1;       // from the host going away to every point BAD
    double RecoveryS = -1;  // from its return to every point GOOD
};

// The device scans with block reads; its host goes away, stays away for a while and comes back.
TDeadTrial DeadDevice(double awayS) {
    TScanningDevice scanning(true);
    TDeadTrial trial;
    if (!scanning.Ready) return trial;
    const auto gone = Clock::now();
    scanning.Server.GoAway();
    if (Await([] { return AllPoints(false); }) >= 0) trial.BadS = Seconds(Clock::now() - gone);
    std::this_thread::sleep_for(std::chrono::duration<double>(awayS));
    scanning.Server.ComeBack();
    trial.RecoveryS = Await([] { return AllPoints(true); }, 60);
    return trial;
}

}  // namespace

int main() {
    std::printf("one device: %d holding registers and %d coils, consecutive numbers; the device answers after "
                "%lld ms; the product's time-outs (connect 3 s, answer 3 s)\n",
                HoldingRegisters, Coils, static_cast<long long>(AnswerDelay.count()));
    std::fflush(stdout);
    const double single = PassTime(false, 2);
    std::printf("scan pass, one request per register: %.3f s\n", single);
    std::fflush(stdout);
    const double block = PassTime(true, 40);
    std::printf("scan pass, block reads: %.4f s\n", block);
    std::fflush(stdout);
    // Without the device's delay the pass is the gateway's own work per request, and what it adds to
    // a request (bookkeeping of the device's health among it) shows most plainly.
    const double immediate = PassTime(false, 20, std::chrono::microseconds(0));
    std::printf("scan pass, one request per register, the device answering at once: %.4f s (%.1f us a request)\n",
                immediate, immediate * 1e6 / Points);
    std::fflush(stdout);

    // The host goes away (connects get no answer) and comes back at several points of the retry cycle,
    // early on and once the retries have slowed down to their longest wait.
    double worst = 0;
    for (double awayS : {0.5, 1.3, 2.1, 2.9, 3.7, 20.0, 21.3, 22.6}) {
        const TDeadTrial t = DeadDevice(awayS);
        std::printf("host away %.1f s after its points turned BAD: BAD %.2f s after it went, GOOD %.2f s after it "
                    "came back\n",
                    awayS, t.BadS, t.RecoveryS);
        std::fflush(stdout);
        worst = t.RecoveryS < 0 ? 999 : std::max(worst, t.RecoveryS);
    }
    FreeDataPoints();
    std::printf("block_speedup: %.1f\n", block > 0 ? single / block : 0);
    std::printf("dead_device_recovery_s: %.2f\n", worst);
    return 0;
}
