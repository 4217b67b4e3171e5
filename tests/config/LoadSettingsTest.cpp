#include "config/LoadSettings.h"

#include "ConfigFakes.h"

namespace tw::test {
namespace {

using LoadSettingsTest = ConfigFixture;

// A database as the first version left it, without the columns added since, with one device.
const char kFirstVersionDatabase[] =
    "CREATE TABLE DEVICE (ID INTEGER PRIMARY KEY AUTOINCREMENT, DESCRIPTION VARCHAR(100), IP_ADDRESS "
    "VARCHAR(15), PORT INTEGER, UNIT_ID INTEGER, DISABLED INTEGER DEFAULT 0);"
    "CREATE TABLE I_O_SETTING (ID INTEGER PRIMARY KEY AUTOINCREMENT, DEVICE_ID INTEGER, DESCRIPTION "
    "VARCHAR(100), REGISTER_NO INTEGER, REGISTER_TYPE INTEGER, TAG_NAME VARCHAR(100));"
    "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED) VALUES ('B old', '10.0.0.1', 502, 1, 0);";

TEST_F(LoadSettingsTest, LoadsEnabledDevicesWithRegistersInDescriptionOrder) {
    general.file = {{"System/Load on Startup", "1"}};
    const int64_t b = AddDevice("B dev", "10.0.0.2");
    const int64_t a = AddDevice("A dev", "10.0.0.1");
    AddDevice("C off", "10.0.0.3", true);
    Exec("UPDATE DEVICE SET PORT = '1502', UNIT_ID = '7' WHERE ID = " + std::to_string(a));
    AddRegister(a, "z last", "TZ", 1, "40");
    AddRegister(a, "a first", "TA", 0, "3");
    AddRegister(b, "only", "TB");

    cfg.LoadSettings(false);

    EXPECT_EQ(steps, (Strings{"log Loading settings.", "stop", "caption Velmora Tarnowick", "logfile off", "hide",
                              "log Settings loaded."}));
    EXPECT_EQ(pageView.items, (Strings{"A dev - 10.0.0.1", "B dev - 10.0.0.2", "C off - 10.0.0.3"}));
    ASSERT_EQ(devices.Count(), 2);
    const TModBusObj& first = devices[0];
    EXPECT_EQ(first.Description, "A dev");
    EXPECT_EQ(first.PollClient.Host, "10.0.0.1");
    EXPECT_EQ(first.PollClient.Port, 1502);
    EXPECT_EQ(first.ReadClient.UnitID, 7);
    ASSERT_EQ(first.Registers.size(), 2u);
    const TIOPointObj& reg = first.Registers[0];
    EXPECT_EQ((Strings{reg.Description, reg.TagName}), (Strings{"a first", "TA"}));
    EXPECT_EQ(reg.RegisterNo, 3);
    EXPECT_EQ(first.Registers[1].RegisterType, 1);
    EXPECT_EQ(devices[1].Description, "B dev");
    EXPECT_EQ(cfg.Devices().IndexOf(b), 1);
}

TEST_F(LoadSettingsTest, OnlyDisabledEqualToOneKeepsADeviceOut) {
    for (const char* value : {"0", "2", "''", "NULL", "1"})
        Exec(std::string("UPDATE DEVICE SET DISABLED = ") + value + " WHERE ID = " +
             std::to_string(AddDevice(std::string("dev ") + value)));
    cfg.LoadSettings(false);
    ASSERT_EQ(devices.Count(), 4);
    EXPECT_EQ(devices[3].Description, "dev NULL");
    EXPECT_EQ(pageView.items.size(), 5u);
}

TEST_F(LoadSettingsTest, ReloadWhileScanningStopsRebuildsAndStartsWithoutNewTags) {
    const int64_t id = AddDevice("dev");
    AddRegister(id, "r", "T1");
    cfg.LoadSettings(false);
    cfg.BuildTagTable();
    EXPECT_EQ(devices[0].Registers[0].TagIndex, 0);
    devices[0].Running = true;
    AddRegister(id, "s", "T2");
    steps.clear();
    general.file = {{"System/Load on Startup", "1"}};

    cfg.LoadSettings(true);

    // No hiding after Save; Start because scanning was running.
    EXPECT_EQ(steps, (Strings{"log Loading settings.", "stop", "caption Velmora Tarnowick", "logfile off",
                              "log Settings loaded.", "start"}));
    ASSERT_EQ(devices[0].Registers.size(), 2u);
    EXPECT_EQ(devices[0].Registers[0].TagIndex, -1);
    cfg.BuildTagTable();  // only once per run
    EXPECT_EQ(TagCount(), 1);
}

// A database of a version without block reads loads with them off and takes the setting from then
// on; that version's own statements still work on the file: its insert leaves the setting off, its
// device update keeps it.
TEST_F(LoadSettingsTest, BlockReadsAreOffInAnEarlierDatabaseAndRoundTrip) {
    db.ReplaceWith(kFirstVersionDatabase);
    cfg.LoadSettings(false);
    ASSERT_EQ(devices.Count(), 1);
    EXPECT_FALSE(devices[0].BlockReads);

    Select("B old");
    dialogs.device = {TDeviceFields{"B old", "10.0.0.1", "502", "1", false, true}};
    page.btnEditDeviceClick();
    EXPECT_FALSE(dialogs.deviceShown.back().BlockReads);
    dialogs.device = {TDeviceFields{"A new", "10.0.0.2", "502", "1", false, true}};
    page.btnNewDeviceClick();
    EXPECT_EQ(general.shown, (Strings{"Device Settings updated!", "New Device added!"}));
    Select("B old");
    dialogs.device = {std::nullopt};
    page.btnEditDeviceClick();
    EXPECT_TRUE(dialogs.deviceShown.back().BlockReads);

    ASSERT_GT(db.access.InsertRecord(db.conn, "DEVICE", {"DESCRIPTION", "IP_ADDRESS", "PORT", "UNIT_ID", "DISABLED"},
                                     {"C older", "10.0.0.3", "502", "1", "0"}, true),
              0);
    Exec("UPDATE DEVICE SET DESCRIPTION = 'A new', IP_ADDRESS = '10.0.0.4', PORT = '502', UNIT_ID = '1', DISABLED = 0 "
         "WHERE DESCRIPTION = 'A new'");
    cfg.LoadSettings(true);
    ASSERT_EQ(devices.Count(), 3);
    EXPECT_EQ((std::vector<bool>{devices[0].BlockReads, devices[1].BlockReads, devices[2].BlockReads}),
              (std::vector<bool>{true, true, false}));

    Select("A new");
    dialogs.device = {TDeviceFields{"A new", "10.0.0.4", "502", "1", false, false}};
    page.btnEditDeviceClick();
    cfg.LoadSettings(true);
    EXPECT_FALSE(devices[0].BlockReads);

    // Word order, function 16 writes and data types likewise: the earlier rows read as before, new
    // ones round-trip through the dialogs, and the earlier version's register insert reads as UInt16.
    EXPECT_EQ(devices[1].WordOrder, TWordOrder::HighFirst);
    EXPECT_FALSE(devices[1].WriteMultiple);
    Select("A new");
    dialogs.device = {TDeviceFields{"A new", "10.0.0.4", "502", "1", false, false, "", 3, true}};
    page.btnEditDeviceClick();
    Select("A new");
    dialogs.io = {TRegisterFields{"a level", "7", 2, "LEVEL", 4, "0", "27648", "0", "100,5", "%", true}};
    page.bbnNewClick();
    ASSERT_GT(db.access.InsertRecord(db.conn, "I_O_SETTING",
                                     {"DEVICE_ID", "DESCRIPTION", "REGISTER_NO", "TAG_NAME", "REGISTER_TYPE"},
                                     {std::to_string(page.SelectedDeviceId()), "b count", "9", "COUNT", "0"}, true),
              0);
    // Rows the dialog would refuse: a value that runs past the last register, a type no list has.
    const std::string id = std::to_string(page.SelectedDeviceId());
    ASSERT_NE(id, "0");
    Exec("INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME, DATA_TYPE) VALUES (" +
         id + ", 'c wide', 65534, 0, 'WIDE', 5), (" + id + ", 'd odd', 1, 0, 'ODD', 9)");
    cfg.LoadSettings(true);
    const TModBusObj& fresh = devices[0];
    EXPECT_EQ(fresh.WordOrder, TWordOrder::LowFirstSwapped);
    EXPECT_TRUE(fresh.WriteMultiple);
    ASSERT_EQ(fresh.Registers.size(), 4u);
    EXPECT_EQ(fresh.Registers[0].Kind(), rkInput);
    EXPECT_EQ(fresh.Registers[0].DataType, TDataType::Float32);
    EXPECT_FALSE(fresh.Registers[0].Unusable);
    const TScaling& scaling = fresh.Registers[0].Scaling;
    EXPECT_TRUE(scaling.Enabled && scaling.Clamp);
    EXPECT_EQ(std::vector<double>({scaling.RawLow, scaling.RawHigh, scaling.EuLow, scaling.EuHigh}),
              std::vector<double>({0, 27648, 0, 100.5}));
    EXPECT_EQ(fresh.Registers[0].Units, "%");
    EXPECT_EQ(fresh.Registers[1].DataType, TDataType::UInt16);
    EXPECT_FALSE(fresh.Registers[1].Scaling.Enabled);
    EXPECT_FALSE(fresh.Registers[1].Unusable);
    EXPECT_TRUE(fresh.Registers[2].Unusable);
    EXPECT_TRUE(fresh.Registers[3].Unusable);
    Select("A new");
    page.sgdListSelectCell(1);
    dialogs.io = {std::nullopt};
    page.bbnEditClick();
    EXPECT_EQ(dialogs.ioShown.back().DataType, 4);
    EXPECT_EQ(dialogs.ioShown.back().EuHigh, "100.5");
    EXPECT_EQ(dialogs.ioShown.back().Units, "%");
    EXPECT_EQ(dialogs.ioShown.back().RegisterType, 2);
}

// A database of a version without scan intervals scans continuously and takes an interval from then
// on; that version's insert leaves none, and an interval cleared in the dialog is none again.
TEST_F(LoadSettingsTest, ScanIntervalIsNoneInAnEarlierDatabaseAndRoundTrips) {
    db.ReplaceWith(kFirstVersionDatabase);
    cfg.LoadSettings(false);
    ASSERT_EQ(devices.Count(), 1);
    EXPECT_EQ(devices[0].ScanIntervalMs, 0u);

    Select("B old");
    dialogs.device = {TDeviceFields{"B old", "10.0.0.1", "502", "1", false, false, "1000"}};
    page.btnEditDeviceClick();
    EXPECT_EQ(dialogs.deviceShown.back().ScanIntervalMs, "");
    dialogs.device = {TDeviceFields{"A new", "10.0.0.2", "502", "1", false, false, "250"}};
    page.btnNewDeviceClick();
    ASSERT_GT(db.access.InsertRecord(db.conn, "DEVICE", {"DESCRIPTION", "IP_ADDRESS", "PORT", "UNIT_ID", "DISABLED"},
                                     {"C older", "10.0.0.3", "502", "1", "0"}, true),
              0);
    cfg.LoadSettings(true);
    ASSERT_EQ(devices.Count(), 3);
    EXPECT_EQ((std::vector<uint32_t>{devices[0].ScanIntervalMs, devices[1].ScanIntervalMs, devices[2].ScanIntervalMs}),
              (std::vector<uint32_t>{250, 1000, 0}));

    Select("B old");
    dialogs.device = {TDeviceFields{"B old", "10.0.0.1", "502", "1", false, false, ""}};
    page.btnEditDeviceClick();
    EXPECT_EQ(dialogs.deviceShown.back().ScanIntervalMs, "1000");
    EXPECT_EQ(Count("SELECT * FROM DEVICE WHERE SCAN_INTERVAL_MS IS NULL"), 2);
}

TEST_F(LoadSettingsTest, DatabaseErrorEndsTheLoadAndKeepsTheDevicesLoadedSoFar) {
    AddDevice("A good");
    const int64_t bad = AddDevice("B bad");
    AddRegister(bad, "r", "T");
    AddDevice("C never");
    Exec("UPDATE I_O_SETTING SET REGISTER_NO = 'x' WHERE DEVICE_ID = " + std::to_string(bad));
    devices.Add().Running = true;

    EXPECT_THROW(cfg.LoadSettings(false), EDatabaseError);
    ASSERT_EQ(devices.Count(), 1);  // the half-read device is not left behind
    EXPECT_EQ(devices[0].Description, "A good");
    EXPECT_EQ(steps.back(), "logfile off");  // neither "Settings loaded." nor Start

    steps.clear();
    cfg.bbnSaveClick();  // after Save the error is shown here
    EXPECT_EQ(general.shown.size(), 1u);
    EXPECT_EQ(general.kinds, std::vector<int>{mkError});
}

}  // namespace
}  // namespace tw::test
