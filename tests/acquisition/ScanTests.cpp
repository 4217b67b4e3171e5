// The poll thread's scan and the on-demand reads and writes, against a scripted device.
#include "DeviceTestSupport.h"

namespace tw::test {
namespace {

class Scanning : public DeviceTest {
protected:
    void SetUp() override {
        device.SetConnection("127.0.0.1", peer.Port(), 1);
        UseShortTimeOuts(device);
    }
    void TearDown() override {
        device.Stop();
        DeviceTest::TearDown();
    }
    TFakeDevice peer;
    TModBusObj device;
};

TEST_F(Scanning, EveryRegisterIsReadInOrderAndStored) {
    peer.SetRegister(40, 1234);
    peer.SetRegister(7, 77);
    peer.SetCoil(3, true);
    AddPoint(device, 40);
    AddPoint(device, 3, 1);
    AddPoint(device, 40);  // same number twice: both read
    AddPoint(device, 4, 1);
    DataPoints[3].Value = 9;
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
    DataPoints[0].Value = 42;
    device.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_TRUE(peer.Requests().empty());
    EXPECT_EQ(PointValue(0), 42);
}

TEST_F(Scanning, ValuesDropToZeroWhenTheDeviceFallsSilentAndRecover) {
    peer.SetRegister(1, 11);
    peer.SetRegister(2, 22);
    AddPoint(device, 1);
    AddPoint(device, 2);
    device.Start();
    PollingSwitch = true;
    ASSERT_TRUE(WaitUntil([] { return PointValue(0) == 11 && PointValue(1) == 22; }));
    peer.SetSilent(true);
    ASSERT_TRUE(WaitUntil([] { return PointValue(0) == 0 && PointValue(1) == 0; }));
    peer.SetSilent(false);
    ASSERT_TRUE(WaitUntil([] { return PointValue(0) == 11 && PointValue(1) == 22; }));
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

TEST_F(Scanning, FailedOnDemandReadStoresZero) {
    peer.SetRegister(1, 8);
    AddPoint(device, 1);
    device.Start();
    EXPECT_EQ(device.ReadRegisterNow(0), 8);
    EXPECT_EQ(PointValue(0), 8);
    peer.SetSilent(true);
    EXPECT_EQ(device.ReadRegisterNow(0), 0);
    EXPECT_EQ(PointValue(0), 0);
}

}  // namespace
}  // namespace tw::test
