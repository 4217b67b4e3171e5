// Start, Stop and the connection probe of a device object.
#include "DeviceTestSupport.h"

namespace tw::test {
namespace {

using DeviceLifecycle = DeviceTest;

TEST_F(DeviceLifecycle, ReachableDeviceStartsLiveAndLeavesNoConnectionOpen) {
    TFakeDevice peer;
    TModBusObj device;
    device.SetConnection("127.0.0.1", peer.Port(), 1);
    AddPoint(device, 1);
    EXPECT_TRUE(device.Start());
    EXPECT_FALSE(device.Simulated);
    EXPECT_FALSE(device.ReadClient.Connected());
    EXPECT_TRUE(WaitUntil([&] { return device.Running.load(); }));
    device.Stop();
    EXPECT_FALSE(device.Running);
    EXPECT_TRUE(peer.Requests().empty());  // polling switch off: nothing read
    EXPECT_EQ(peer.Connections(), 1);      // the probe only

    // A stopped device starts again.
    device.Start();
    EXPECT_TRUE(WaitUntil([&] { return device.Running.load(); }));
    device.Stop();
}

TEST_F(DeviceLifecycle, UnreachableDeviceIsSimulatedForGoodAndSendsNothing) {
    const int port = ClosedPort();
    TModBusObj device;
    device.SetConnection("127.0.0.1", port, 1);
    AddPoint(device, 1);
    DataPoints[0].Store(123, kQualityLocalOverride);  // set by hand, as the simulate dialog does
    EXPECT_TRUE(device.Start());
    EXPECT_TRUE(device.Simulated);
    PollingSwitch = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    device.Stop();
    EXPECT_EQ(PointValue(0), 123);

    // Reachable now, yet still simulated: no traffic at all, on-demand access included.
    TTcpListener nowListening(port);
    device.Start();
    EXPECT_TRUE(device.Simulated);
    EXPECT_EQ(device.ReadRegisterNow(0), 0);
    EXPECT_EQ(DataPoints[0].Quality(), kQualityLocalOverride);  // the hand-set value stays forced
    // A client's write is forced like the operator's: GOOD, local override.
    EXPECT_EQ(device.WriteRegisterValue(0, 5), TWriteResult::Simulated);
    device.Stop();
    TTcpSocket probe, other;
    EXPECT_TRUE(nowListening.Accept(probe, 1000));
    EXPECT_FALSE(nowListening.Accept(other, 50));  // nothing but the probe connected
    EXPECT_EQ(PointValue(0), 5);
    EXPECT_EQ(DataPoints[0].Quality(), kQualityLocalOverride);
    const TDeviceStatus status = device.Status();
    EXPECT_TRUE(status.Simulated);
    EXPECT_FALSE(status.Connected || status.Failing);
    EXPECT_EQ(status.Requests, 0u);
}

// Values of a simulated device come from no device: not connected until set by hand, whatever an
// earlier run of the same device object read.
TEST_F(DeviceLifecycle, SimulatedPointsAreNotConnectedUntilSetByHand) {
    TModBusObj device;
    device.SetConnection("127.0.0.1", ClosedPort(), 1);
    AddPoint(device, 1);
    DataPoints[0].Store(7, kQualityGood);  // read in an earlier run
    device.Start();
    ASSERT_TRUE(device.Simulated);
    EXPECT_EQ(DataPoints[0].Quality(), kQualityNotConnected);
    EXPECT_EQ(PointValue(0), 7);
    device.Stop();
}

TEST_F(DeviceLifecycle, DeviceWithoutRegistersIdles) {
    TFakeDevice peer;
    TModBusObj device;
    device.SetConnection("127.0.0.1", peer.Port(), 1);
    PollingSwitch = true;
    device.Start();
    EXPECT_TRUE(WaitUntil([&] { return device.Running.load(); }));
    device.Stop();
    EXPECT_FALSE(device.Running);
    EXPECT_TRUE(peer.Requests().empty());
}

TEST_F(DeviceLifecycle, StopWaitsForOneRequestNotAWholePass) {
    TFakeDevice peer;
    peer.SetSilent(true);
    TModBusObj device;
    device.SetConnection("127.0.0.1", peer.Port(), 1);
    UseShortTimeOuts(device);
    for (int i = 1; i <= 40; ++i) AddPoint(device, i);  // a pass of silence takes 16 s
    PollingSwitch = true;
    device.Start();
    EXPECT_TRUE(WaitUntil([&] { return !peer.Requests().empty(); }));
    const auto start = std::chrono::steady_clock::now();
    device.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(device.Running);
    EXPECT_FALSE(device.PollClient.Connected());
}

// The status items' figures: every exchange counts, whoever sent it, as the device saw it; only those
// without an answer fail; nothing is counted for what is never sent; Start begins afresh.
TEST_F(DeviceLifecycle, StatusCountsEveryExchangeSinceStart) {
    // Every look at the device's clock moves it on by 7 ms, as if each exchange took that long.
    std::atomic<long long> ms{0};
    TFakeDevice peer;
    peer.AddHole(2);
    TModBusObj device;
    device.Clock = [&ms] { return TScanClock::time_point(std::chrono::milliseconds(ms.fetch_add(7))); };
    device.SetConnection("127.0.0.1", peer.Port(), 1);
    UseShortTimeOuts(device, 100);
    device.BlockReads = true;
    for (int number : {1, 2, 3}) AddPoint(device, number);
    device.Start();
    auto sent = [&peer] { return static_cast<uint32_t>(peer.Requests().size()); };
    auto is = [&device](bool connected, bool failing, uint32_t failures, uint32_t lastMs) {
        const TDeviceStatus s = device.Status();
        return s.Connected == connected && s.Failing == failing && s.Failures == failures && s.LastResponseMs == lastMs &&
               s.BlockReads && !s.Simulated;
    };
    EXPECT_TRUE(is(false, false, 0, 0));

    // On-demand: a read, a refused read (an answer all the same), a write.
    device.SampleRegisterNow(0);
    device.SampleRegisterNow(1);
    EXPECT_EQ(device.WriteRegisterValue(0, 5), TWriteResult::Written);
    EXPECT_EQ(device.Status().Requests, 3u);
    EXPECT_EQ(sent(), 3u);
    EXPECT_TRUE(is(true, false, 0, 7));

    // No answer in time: failed, no connection; during the back-off nothing is sent nor counted.
    peer.SetSilent(true);
    device.SampleRegisterNow(0);
    EXPECT_EQ(sent(), 4u);
    EXPECT_TRUE(is(false, true, 1, 7));
    device.SampleRegisterNow(0);
    EXPECT_EQ(device.WriteRegisterValue(0, 6), TWriteResult::Failed);
    EXPECT_EQ(sent(), 4u);
    EXPECT_EQ(device.Status().Requests, 4u);
    peer.SetSilent(false);
    ms += 2000;
    device.SampleRegisterNow(0);
    EXPECT_TRUE(is(true, false, 1, 7));

    // The poll thread's reads, blocks and single reads alike, count too.
    PollingSwitch = true;
    ASSERT_TRUE(WaitUntil([&] { return sent() >= 12; }));
    device.Stop();
    EXPECT_EQ(device.Status().Requests, sent());
    EXPECT_TRUE(is(false, false, 1, 7));  // Stop closed the connections
    PollingSwitch = false;
    device.Start();
    EXPECT_TRUE(is(false, false, 0, 0));
    EXPECT_EQ(device.Status().Requests, 0u);
    device.Stop();
}

TEST_F(DeviceLifecycle, StopRightAfterStartAndDestructionWhileRunning) {
    TFakeDevice peer;
    PollingSwitch = true;
    for (int round = 0; round < 20; ++round) {
        TModBusObj device;
        device.SetConnection("127.0.0.1", peer.Port(), 1);
        AddPoint(device, 1);
        device.Start();
        if (round % 2 == 0) device.Stop();  // odd rounds: destroyed while scanning
    }
}

}  // namespace
}  // namespace tw::test
