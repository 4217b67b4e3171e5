// The tag table built from the device list, and the lookups the OPC side relies on.
#include "tags/DeviceAccess.h"
#include "tags/DeviceStatusTags.h"
#include "tags/TagTable.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

class TagTableTest : public ::testing::Test {
protected:
    void TearDown() override {
        ResetTagTable();
        DeviceList.Clear();
    }
    TModBusObj& AddDevice(std::initializer_list<const char*> tagNames) {
        TModBusObj& device = DeviceList.Add();
        for (const char* name : tagNames) device.Registers[static_cast<std::size_t>(device.AddRegister())].TagName = name;
        return device;
    }
};

TEST_F(TagTableTest, TwoDevicesAreNumberedDeviceByDevice) {
    TModBusObj& first = AddDevice({"A1", "A2"});
    TModBusObj& second = AddDevice({"B1", "B2", "B3"});
    BuildTagTable(DeviceList);

    EXPECT_EQ(TagCount(), 5);
    EXPECT_EQ(TagDevice, (std::vector<int32_t>{0, 0, 1, 1, 1}));
    EXPECT_EQ(TagRegister, (std::vector<int32_t>{0, 1, 0, 1, 2}));
    EXPECT_EQ(TagIdByName("A1"), 6000u);
    EXPECT_EQ(TagIdByName("B3"), 6004u);
    EXPECT_EQ(TagNameById(6002), "B1");
    EXPECT_EQ(first.Registers[1].TagIndex, 1);
    EXPECT_EQ(second.Registers[2].TagIndex, 4);
    EXPECT_EQ(DataPoints.size(), 5u);
    EXPECT_EQ(DataPoints[4].Value(), 0);
    ASSERT_EQ(TagTable.size(), 6u);  // and the blank entry that closes it
    EXPECT_EQ(TagTable.back().Id, 0u);
    EXPECT_EQ(TagTable.back().CanonicalType, 0u);
    EXPECT_EQ(TagCanonicalType(6004), 18u);
    EXPECT_TRUE(TagIsWritable(6000));
}

TEST_F(TagTableTest, LookupsOutsideTheTable) {
    BuildTagTable(DeviceList);  // no device at all
    EXPECT_EQ(TagCount(), 0);
    EXPECT_EQ(TagIdByName(""), 0u);
    EXPECT_EQ(TagIdByName("A1"), 0u);
    EXPECT_EQ(TagCanonicalType(6000), 18u);
    EXPECT_TRUE(DataPoints.empty());

    AddDevice({"Tank.Level", "Pump"});
    BuildTagTable(DeviceList);
    EXPECT_EQ(TagIdByName("tank.level"), 0u);
    EXPECT_EQ(TagIdByName("Tank.Level"), 6000u);
    for (uint32_t id : {5999u, 0u, 6002u, 0xFFFFFFFFu}) {
        EXPECT_EQ(TagCanonicalType(id), 18u) << id;
        EXPECT_EQ(TagNameById(id), "") << id;
    }
    EXPECT_EQ(DataPoints.size(), 2u);  // a second build starts afresh
}

TEST_F(TagTableTest, LongNamesAreCutAndTheFirstOfEqualNamesWins) {
    const std::string longName(70, 'n');
    AddDevice({"Same", longName.c_str()});
    AddDevice({"Same"});
    BuildTagTable(DeviceList);
    EXPECT_EQ(TagIdByName("Same"), 6000u);
    EXPECT_EQ(TagIdByName(longName), 0u);
    EXPECT_EQ(TagIdByName(longName.substr(0, 64)), 6001u);
    EXPECT_EQ(TagNameById(6001).size(), 64u);
}

// Status items: none unless asked for; then seven read-only tags a device after the register tags,
// named so that dots and duplicates cannot make two alike, GOOD, following their device through a
// reload and BAD (config error) once it is gone.
TEST_F(TagTableTest, DeviceStatusItemsFollowTheRegisterTags) {
    AddDevice({"A"}).Description = "PLC.1";
    AddDevice({}).Description = "PLC_1";
    TModBusObj& third = AddDevice({"B"});
    third.Description = "PLC.1";
    third.BlockReads = true;
    AddDevice({}).Description = std::string(50, 'x');
    BuildTagTable(DeviceList);
    EXPECT_EQ(TagCount(), 2);
    BuildTagTable(DeviceList, true);
    ASSERT_EQ(TagCount(), 2 + 4 * 7);
    EXPECT_EQ(TagIdByName("B"), 6001u);
    const uint32_t connected = TagIdByName("_Devices.PLC_1.Connected");
    EXPECT_EQ(connected, 6002u);
    EXPECT_EQ(TagIdByName("_Devices.PLC_1~2.Connected"), 6009u);
    const uint32_t blockReads = TagIdByName("_Devices.PLC_1~3.BlockReads");
    const uint32_t requests = TagIdByName("_Devices.PLC_1~3.Requests");
    EXPECT_EQ(blockReads, 6022u);
    EXPECT_NE(TagIdByName("_Devices." + std::string(35, 'x') + ".LastResponseMs"), 0u);
    EXPECT_EQ(TagCanonicalType(connected), 11u);  // VT_BOOL
    EXPECT_EQ(TagCanonicalType(requests), 19u);   // VT_UI4
    EXPECT_FALSE(TagIsWritable(connected) || TagIsWritable(requests));
    auto point = [](uint32_t id) { return DataPoints[id - FirstTagId].Sample(); };
    EXPECT_EQ(point(blockReads).Value, 1u);
    EXPECT_EQ(point(connected).Quality, kQualityGood);

    // A device read of an item takes the device object as it is now; no write reaches anything.
    third.Counters.Requests = 41;
    EXPECT_EQ(SampleTagFromDevice(static_cast<int32_t>(requests - FirstTagId)).Value, 41u);
    EXPECT_EQ(WriteTagToDevice(static_cast<int32_t>(requests - FirstTagId), 1), TWriteResult::Failed);

    // A reload makes new device objects: the items find theirs by description.
    DeviceList.Clear();
    DeviceList.Add().Description = "PLC_1";
    TModBusObj& reloaded = DeviceList.Add();
    reloaded.Description = "PLC.1";
    reloaded.Simulated = true;
    RefreshDeviceStatusTags(DeviceList);
    EXPECT_EQ(point(TagIdByName("_Devices.PLC_1.Simulated")).Value, 1u);
    const TPointSample notSimulated = point(TagIdByName("_Devices.PLC_1~2.Simulated"));
    EXPECT_TRUE(notSimulated.Value == 0 && notSimulated.Quality == kQualityGood);
    EXPECT_EQ(point(requests).Value, 41u);
    EXPECT_EQ(point(requests).Quality, kQualityConfigError);
}

// A new data point holds no value from a device; its word keeps value and quality together.
TEST(DataPoint, StartsNotConnectedAndChangesQualityWithoutLosingTheValue) {
    TRealDataPoint point;
    EXPECT_EQ(point.Value(), 0);
    EXPECT_EQ(point.Quality(), 0x08);  // BAD, not connected
    point.Store(65535, 0xC0);
    point.SetQuality(0x18);
    EXPECT_EQ(point.Value(), 65535);
    EXPECT_EQ(point.Quality(), 0x18);
}

// The names operators read in opcda-cli's output, as the OPC standard words them; limit bits aside.
TEST(DataPoint, QualityNames) {
    const std::pair<uint16_t, const char*> rows[] = {
        {0xC0, "good"},          {0xD8, "good local override"}, {0x18, "bad comm failure"},
        {0x04, "bad config error"}, {0x08, "bad not connected"}, {0x1C, "bad out of service"},
        {0x1F, "bad out of service"}, {0x14, "bad last known value"}, {0x00, "bad"},
        {0x44, "uncertain last usable value"}, {0x80, "invalid"}};
    for (const auto& [quality, name] : rows) EXPECT_EQ(QualityName(quality), name) << quality;
}

}  // namespace
}  // namespace tw
