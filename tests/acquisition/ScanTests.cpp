// The poll thread's scan and the on-demand reads and writes, against a scripted device.
#include "DeviceTestSupport.h"

namespace tw::test {
namespace {

TEST_F(Scanning, EveryRegisterIsReadInOrderAndStored) {
    peer.SetRegister(40, 1234);
    peer.SetRegister(7, 77);
    peer.SetCoil(3, true);
    AddPoint(device, 40);
    AddPoint(device, 3, 1);
    AddPoint(device, 40);  // same number twice: both read
    AddPoint(device, 4, 1);
    DataPoints[3].Store(9, kQualityGood);
    device.Start();
    PollingSwitch = true;
    ASSERT_TRUE(WaitUntil([&] { return peer.Requests().size() >= 8; }));
    EXPECT_EQ(PointValue(0), 1234);
    EXPECT_EQ(PointValue(1), 1);
    EXPECT_EQ(PointValue(2), 1234);
    EXPECT_EQ(PointValue(3), 0);  // coil off

    const auto requests = peer.Requests();
    for (std::size_t i = 0; i + 4 <= requests.size(); i += 4) {
        EXPECT_EQ(requests[i][7], 3);
        EXPECT_EQ(requests[i + 1][7], 1);
        EXPECT_EQ(requests[i + 1][9], 2);  // coil 3 is address 2
        EXPECT_EQ(requests[i + 2][7], 3);
        EXPECT_EQ(requests[i + 3][7], 1);
    }
}

TEST_F(Scanning, TwoLiveDevicesEachStoreIntoTheirOwnTags) {
    // The devices' tags alternate in the table, so a register's place in its device is never its tag.
    TFakeDevice otherPeer;
    TModBusObj other;
    other.SetConnection("127.0.0.1", otherPeer.Port(), 1);
    UseShortTimeOuts(other);
    peer.SetRegister(1, 11);
    peer.SetRegister(2, 12);
    otherPeer.SetRegister(1, 21);
    otherPeer.SetRegister(2, 22);
    AddPoint(device, 1);
    AddPoint(other, 1);
    AddPoint(device, 2);
    AddPoint(other, 2);
    device.Start();
    other.Start();
    PollingSwitch = true;
    ASSERT_TRUE(WaitUntil([&] { return peer.Requests().size() >= 6 && otherPeer.Requests().size() >= 6; }));
    device.Stop();
    other.Stop();
    EXPECT_EQ(PointValue(0), 11);
    EXPECT_EQ(PointValue(1), 21);
    EXPECT_EQ(PointValue(2), 12);
    EXPECT_EQ(PointValue(3), 22);
}

TEST_F(Scanning, SwitchOffReadsNothingAndKeepsValues) {
    peer.SetRegister(1, 5);
    AddPoint(device, 1);
    DataPoints[0].Store(42, kQualityGood);
    device.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_TRUE(peer.Requests().empty());
    EXPECT_EQ(PointValue(0), 42);
}

// With a scan interval a pass starts no sooner than that after the previous one started, by the
// device's own clock; a late pass is not made up for; Stop does not wait for the interval.
TEST_F(Scanning, PassesStartAScanIntervalApart) {
    using namespace std::chrono_literals;
    clock.DriveDevice(device);
    AddPoint(device, 1);
    AddPoint(device, 2);
    device.ScanIntervalMs = 1000;
    device.Start();
    PollingSwitch = true;
    const auto passes = [&] { return peer.Requests().size() / 2; };
    ASSERT_TRUE(WaitUntil([&] { return passes() == 1; }));
    const struct {
        std::chrono::milliseconds advance;
        std::size_t passes;
    } steps[] = {{999ms, 1}, {1ms, 2}, {2500ms, 3}, {999ms, 3}, {1ms, 4}};
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message() << "+" << step.advance.count() << " ms");
        clock.Advance(step.advance);
        ASSERT_TRUE(clock.AwaitTurn());
        ASSERT_TRUE(WaitUntil([&] { return passes() >= step.passes; }));
        EXPECT_EQ(passes(), step.passes);
        EXPECT_EQ(peer.Requests().size() % 2, 0u) << "a pass was cut short";
    }
    const auto start = std::chrono::steady_clock::now();
    device.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
}

// A device that answers, falls silent, hangs up, refuses and answers again: each point keeps the value
// last obtained with a quality that says why it is old, and the device's state follows for the log.
TEST_F(Scanning, FailedReadsKeepTheLastValueWithTheQualityOfTheFailure) {
    AddPoint(device, 1);
    AddPoint(device, 2, 1);
    EXPECT_TRUE(Holds(0, 0, kQualityNotConnected));  // never obtained
    device.Start();
    PollingSwitch = true;
    struct TStep {
        TFakeDevice::TMode mode;
        uint16_t reg, coil;      // what the device holds during the step
        uint16_t value0, value1;  // what the points hold afterwards
        uint16_t quality;
        TCommState state;
    };
    const TStep steps[] = {
        {TFakeDevice::Answering, 11, 1, 11, 1, kQualityGood, TCommState::Answering},
        {TFakeDevice::Silent, 33, 0, 11, 1, kQualityCommFailure, TCommState::Failing},
        {TFakeDevice::Answering, 12, 1, 12, 1, kQualityGood, TCommState::Answering},
        {TFakeDevice::HangingUp, 33, 0, 12, 1, kQualityCommFailure, TCommState::Failing},
        {TFakeDevice::Refusing, 33, 0, 12, 1, kQualityConfigError, TCommState::Answering},
        {TFakeDevice::Answering, 44, 0, 44, 0, kQualityGood, TCommState::Answering},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(testing::Message() << "mode " << step.mode << " register " << step.reg);
        peer.SetRegister(1, step.reg);
        peer.SetCoil(2, step.coil != 0);
        peer.SetMode(step.mode);
        ASSERT_TRUE(WaitUntil([&] { return Holds(0, step.value0, step.quality) && Holds(1, step.value1, step.quality); }))
            << "point 0: " << Point(0).Value << "/" << Point(0).Quality << ", point 1: " << Point(1).Value << "/"
            << Point(1).Quality;
        EXPECT_EQ(device.CommState.load(), step.state);
    }
    device.Stop();
    const std::size_t afterStop = peer.Requests().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(peer.Requests().size(), afterStop);  // nothing after Stop
}

TEST_F(Scanning, RegisterWithoutTagStoresNothing) {
    peer.SetRegister(1, 11);
    AddPoint(device, 1);
    const int orphan = device.AddRegister();
    device.Registers[static_cast<std::size_t>(orphan)].RegisterNo = 1;  // TagIndex stays -1
    device.Start();
    PollingSwitch = true;
    ASSERT_TRUE(WaitUntil([&] { return peer.Requests().size() >= 4; }));
    EXPECT_EQ(PointValue(0), 11);
    EXPECT_EQ(DataPoints.size(), 1u);
    EXPECT_EQ(device.ReadRegisterNow(orphan), 11);
}

TEST_F(Scanning, OnDemandReadsAndWritesWhileThePollThreadScans) {
    peer.SetRegister(10, 100);
    AddPoint(device, 10);
    AddPoint(device, 5, 1);
    device.Start();
    PollingSwitch = true;

    device.WriteRegisterValue(0, 0xABCD);
    device.WriteRegisterValue(1, 1);
    EXPECT_EQ(peer.Register(10), 0xABCD);
    EXPECT_TRUE(peer.Coil(5));
    EXPECT_EQ(device.ReadRegisterNow(1), 1);
    EXPECT_EQ(PointValue(1), 1);
    device.WriteRegisterValue(1, 0);
    EXPECT_FALSE(peer.Coil(5));
    EXPECT_EQ(device.ReadRegisterNow(0), 0xABCD);
    ASSERT_TRUE(WaitUntil([] { return PointValue(0) == 0xABCD && PointValue(1) == 0; }));

    // Out-of-range indexes are ignored rather than trusted.
    EXPECT_EQ(device.ReadRegisterNow(2), 0);
    device.WriteRegisterValue(-1, 1);
}

// On demand as in the scan: a read that fails keeps the value, a write the device does not take
// leaves the point as it was (marked when the device did not answer), a simulated device's point
// takes the value as forced by hand.
TEST_F(Scanning, OnDemandAccessReportsAndStoresOnlyWhatTheDeviceDid) {
    clock.DriveDevice(device);  // moved past every back-off, so that each row meets the device afresh
    peer.SetRegister(1, 8);
    AddPoint(device, 1);
    AddPoint(device, 2, 1);
    device.Start();
    EXPECT_EQ(device.ReadRegisterNow(0), 8);
    EXPECT_TRUE(Holds(0, 8, kQualityGood));

    struct TWrite {
        TFakeDevice::TMode mode;
        int index;
        uint16_t value;
        TWriteResult result;
        uint16_t held;      // by the device afterwards
        uint16_t point;     // the point's value afterwards
        uint16_t quality;
    };
    const TWrite writes[] = {
        {TFakeDevice::Answering, 0, 9, TWriteResult::Written, 9, 9, kQualityGood},
        {TFakeDevice::Answering, 1, 5, TWriteResult::Written, 1, 1, kQualityGood},  // a coil holds 1
        {TFakeDevice::Refusing, 0, 10, TWriteResult::Refused, 9, 9, kQualityGood},
        {TFakeDevice::Silent, 0, 11, TWriteResult::Failed, 9, 9, kQualityCommFailure},
        {TFakeDevice::HangingUp, 0, 12, TWriteResult::Failed, 9, 9, kQualityCommFailure},
    };
    for (const TWrite& w : writes) {
        SCOPED_TRACE(testing::Message() << "mode " << w.mode << " value " << w.value);
        clock.Advance(std::chrono::minutes(1));
        peer.SetMode(w.mode);
        EXPECT_EQ(device.WriteRegisterValue(w.index, w.value), w.result);
        EXPECT_EQ(w.index == 0 ? peer.Register(1) : static_cast<uint16_t>(peer.Coil(2)), w.held);
        EXPECT_TRUE(Holds(w.index, w.point, w.quality)) << Point(w.index).Value << "/" << Point(w.index).Quality;
    }
    clock.Advance(std::chrono::minutes(1));
    peer.SetMode(TFakeDevice::Silent);
    EXPECT_EQ(device.ReadRegisterNow(0), 9);  // the last value, not a made-up 0
    EXPECT_TRUE(Holds(0, 9, kQualityCommFailure));
    clock.Advance(std::chrono::minutes(1));
    peer.SetMode(TFakeDevice::Refusing);
    EXPECT_EQ(device.ReadRegisterNow(0), 9);
    EXPECT_TRUE(Holds(0, 9, kQualityConfigError));
    EXPECT_EQ(device.WriteRegisterValue(5, 1), TWriteResult::Failed);  // no such register
}

}  // namespace
}  // namespace tw::test
