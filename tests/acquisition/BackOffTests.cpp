// A device that stops answering costs one attempt now and then, not a time-out per register, and is
// noticed when it comes back; on-demand access meanwhile fails at once.
#include "DeviceTestSupport.h"

namespace tw::test {
namespace {

using namespace std::chrono_literals;
using BackOff = Scanning;
using FailingDevice = DeviceTest;

constexpr int kRegisters = 50;

bool AllHold(uint16_t quality) {
    for (int i = 0; i < kRegisters; ++i)
        if (!Holds(i, static_cast<uint16_t>(1000 + i), quality)) return false;
    return true;
}

// The device's time runs in 50 ms steps over ten seconds while the device is silent (no answer in
// time) or hangs up on every request (connection lost); the attempts it costs are counted at the peer.
TEST_F(FailingDevice, IsTriedNowAndThenAndNoticedWhenBack) {
    for (TFakeDevice::TMode mode : {TFakeDevice::Silent, TFakeDevice::HangingUp}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        FreeDataPoints();
        TFakeDevice peer;
        TFakeClock clock;
        TModBusObj device;
        device.SetConnection("127.0.0.1", peer.Port(), 1);
        UseShortTimeOuts(device, 100);
        clock.DriveDevice(device);
        for (int i = 0; i < kRegisters; ++i) {
            peer.SetRegister(static_cast<uint16_t>(i + 1), static_cast<uint16_t>(1000 + i));
            AddPoint(device, i + 1);
        }
        device.Start();
        PollingSwitch = true;
        ASSERT_TRUE(WaitUntil([] { return AllHold(kQualityGood); }));

        // One failed request fails the whole pass at once; the values stay.
        device.Stop();
        peer.SetMode(mode);
        device.Start();
        ASSERT_TRUE(WaitUntil([] { return AllHold(kQualityCommFailure); }));
        EXPECT_EQ(device.CommState.load(), TCommState::Failing);
        std::size_t seen = peer.Requests().size();
        std::vector<int> attemptsAt;  // ms of the device's time
        for (int ms = 50; ms <= 10000; ms += 50) {
            clock.Advance(50ms);
            ASSERT_TRUE(clock.AwaitTurn());
            const std::size_t now = peer.Requests().size();
            for (; seen < now; ++seen) attemptsAt.push_back(ms);
        }
        EXPECT_TRUE(AllHold(kQualityCommFailure));
        // Without a pause every step would see a pass of requests; with one, an attempt soon after
        // the failure, then less often, yet never less often than the longest wait.
        const int longest = static_cast<int>(std::chrono::milliseconds(TDeviceBackOff::LongestWait).count());
        ASSERT_GE(attemptsAt.size(), static_cast<std::size_t>(10000 / longest));
        EXPECT_LE(attemptsAt.size(), 20u);
        EXPECT_LE(attemptsAt[0], 500);
        for (std::size_t i = 1; i < attemptsAt.size(); ++i) EXPECT_LE(attemptsAt[i] - attemptsAt[i - 1], longest + 50);
        EXPECT_GT(attemptsAt.back() - attemptsAt[attemptsAt.size() - 2], attemptsAt[0]);

        peer.SetMode(TFakeDevice::Answering);
        clock.Advance(TDeviceBackOff::LongestWait);
        EXPECT_TRUE(WaitUntil([] { return AllHold(kQualityGood); })) << "the device came back unnoticed";
        EXPECT_EQ(device.CommState.load(), TCommState::Answering);
        device.Stop();
    }
}

// While the poll thread waits to try the device again, on-demand reads and writes send nothing and
// fail at once; the poll thread's retry is what notices the device again. With the polling switch
// off nobody else retries, so then an on-demand access may try once the wait is over.
TEST_F(BackOff, OnDemandAccessFailsAtOnceUntilTheDeviceIsBack) {
    clock.DriveDevice(device);
    peer.SetRegister(1, 11);
    AddPoint(device, 1);
    AddPoint(device, 2, 1);
    device.Start();
    PollingSwitch = true;
    ASSERT_TRUE(WaitUntil([] { return Holds(0, 11, kQualityGood) && Holds(1, 0, kQualityGood); }));

    peer.SetMode(TFakeDevice::Silent);
    ASSERT_TRUE(WaitUntil([&] { return device.BackOff.Active(); }));
    const std::size_t sent = peer.Requests().size();
    peer.SetMode(TFakeDevice::Answering);  // back, but nobody has tried it yet
    EXPECT_EQ(device.ReadRegisterNow(0), 11);
    EXPECT_EQ(device.WriteRegisterValue(1, 1), TWriteResult::Failed);
    EXPECT_EQ(peer.Requests().size(), sent) << "on-demand access went to a device in its back-off";
    EXPECT_TRUE(Holds(0, 11, kQualityCommFailure) && Holds(1, 0, kQualityCommFailure));
    EXPECT_FALSE(peer.Coil(2));

    clock.Advance(2s);
    ASSERT_TRUE(WaitUntil([] { return Holds(0, 11, kQualityGood); })) << "the poll thread did not try again";
    EXPECT_EQ(device.WriteRegisterValue(1, 1), TWriteResult::Written);
    EXPECT_TRUE(peer.Coil(2));

    // Polling off: the on-demand read that finds the device silent starts the back-off, the next
    // one fails at once, and the first one after the wait tries again.
    PollingSwitch = false;
    peer.SetMode(TFakeDevice::Silent);
    peer.SetRegister(1, 12);
    ASSERT_TRUE(WaitUntil([&] { return device.ReadRegisterNow(0) == 11 && Point(0).Quality == kQualityCommFailure; }));
    const std::size_t silentOnes = peer.Requests().size();
    EXPECT_EQ(device.ReadRegisterNow(0), 11);
    EXPECT_EQ(peer.Requests().size(), silentOnes);
    peer.SetMode(TFakeDevice::Answering);
    clock.Advance(2s);
    EXPECT_EQ(device.ReadRegisterNow(0), 12);
    EXPECT_TRUE(Holds(0, 12, kQualityGood));

    // Stop never waits for a back-off: here the device's time stands still, so the wait never ends.
    peer.SetMode(TFakeDevice::HangingUp);
    PollingSwitch = true;
    ASSERT_TRUE(WaitUntil([&] { return device.BackOff.Active(); }));
    const auto start = std::chrono::steady_clock::now();
    device.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

    // Polling on but the device stopped: no poll thread retries either, so the first on-demand
    // access after the wait tries the device and ends the back-off.
    peer.SetMode(TFakeDevice::Answering);
    peer.SetRegister(1, 13);
    EXPECT_EQ(device.ReadRegisterNow(0), 12) << "in the back-off, before the wait is over";
    clock.Advance(2s);
    EXPECT_EQ(device.ReadRegisterNow(0), 13);
    EXPECT_FALSE(device.BackOff.Active());
    EXPECT_EQ(device.WriteRegisterValue(1, 0), TWriteResult::Written);
}

// A device may close a connection that lay idle: the next exchange opens a new one at once, and
// neither a BAD quality nor a back-off follows.
TEST_F(FailingDevice, IsNotOneWhoseIdleConnectionWasClosed) {
    TReply answerThenClose = Send(RegisterAnswer(1, {3}));
    answerThenClose.Close = true;
    TScriptedServer peer(Sequence({answerThenClose, Send(RegisterAnswer(1, {4}))}));
    TModBusObj device;
    device.SetConnection("127.0.0.1", peer.Port(), 1);
    UseShortTimeOuts(device);
    AddPoint(device, 1);
    EXPECT_EQ(device.ReadRegisterNow(0), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the device hangs up meanwhile
    EXPECT_EQ(device.ReadRegisterNow(0), 4);
    EXPECT_TRUE(Holds(0, 4, kQualityGood));
    EXPECT_FALSE(device.BackOff.Active());
    EXPECT_EQ(peer.Connections(), 2);
}

}  // namespace
}  // namespace tw::test
