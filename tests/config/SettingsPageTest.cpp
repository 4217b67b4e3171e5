#include "config/SettingsPage.h"

#include "ConfigFakes.h"

namespace tw::test {
namespace {

const std::string kRestart = "\r\rYou must restart Tarnowick for the new setting to be effective.";
const std::string kEmpty = "All setting fields must not be empty!";

// Pump (loaded, with tags and values 100..102) and Idle (disabled), as after the start of the program.
struct SettingsPageTest : ConfigFixture {
    int64_t pump = 0, idle = 0;
    void SetUp() override {
        ConfigFixture::SetUp();
        pump = AddDevice("Pump");
        AddRegister(pump, "b speed", "SPEED", 0, "2");
        AddRegister(pump, "a flow", "FLOW", 1, "1");
        AddRegister(pump, "c temp", "TEMP", 0, "3");
        idle = AddDevice("Idle", "10.1.1.1", true);
        AddRegister(idle, "x", "IDLE_X", 0, "5");
        page.SetGridTitles();
        cfg.LoadSettings(false);
        cfg.BuildTagTable();
        for (std::size_t t = 0; t < DataPoints.size(); ++t) DataPoints[t].Store(static_cast<uint16_t>(100 + t), kQualityGood);
    }
};

TEST_F(SettingsPageTest, SelectingADeviceFillsDetailsAndGridWithLiveValues) {
    Select("Pump");
    EXPECT_EQ((Strings{pageView.details.Description, pageView.details.IpAddress, pageView.details.Port,
                       pageView.details.UnitId}),
              (Strings{"Pump", "127.0.0.1", "502", "1"}));
    EXPECT_EQ(pageView.rows[0], (TGridRow{"No.", "Description", "Reg.No.", "Reg.Type", "OPC Tag Name", "Tag Value"}));
    EXPECT_EQ(pageView.rows[1], (TGridRow{"2", "a flow", "1", "Coil", "FLOW", "100"}));
    EXPECT_EQ(Column(colRegType), (Strings{"Coil", "Register", "Register"}));
    EXPECT_EQ(Column(colTagValue), (Strings{"100", "101", "102"}));
    EXPECT_EQ(page.DisplayedDevice(), &devices[0]);

    // A disabled device lists its registers without values; no row of the longer grid is left over.
    Select("Idle");
    EXPECT_EQ(pageView.rows, page.Grid());
    EXPECT_EQ(Column(colTagName), Strings{"IDLE_X"});
    page.RefreshTagValues();
    EXPECT_EQ(Column(colTagValue), Strings{""});
    EXPECT_EQ(page.DisplayedDevice(), nullptr);
}

TEST_F(SettingsPageTest, ValuesFollowTheTagNameWhenRowsShiftBeforeARestart) {
    AddRegister(pump, "0 new", "NEW");  // sorts first and has no data point
    Select("Pump");
    EXPECT_EQ(Column(colTagValue), (Strings{"", "100", "101", "102"}));
    DataPoints[2].Store(7, kQualityGood);
    page.RefreshTagValues();
    EXPECT_EQ(pageView.rows[4][colTagValue], "7");
    pageView.active = false;  // only shown on the active Settings page
    page.ShowTagValue(1, "9");
    pageView.active = true;
    page.ShowTagValue(99, "9");
    page.ShowTagValue(1, "9");  // tag 1 is "b speed"
    EXPECT_EQ(Column(colTagValue), (Strings{"", "100", "9", "7"}));
}

TEST_F(SettingsPageTest, ReloadLooksTheDisplayedDeviceUpAgainAndShowsNoValues) {
    Select("Pump");
    cfg.bbnSaveClick();
    EXPECT_EQ(page.DisplayedDevice(), &devices[0]);
    // The re-created records have no tag: no value, and no data point is indexed with -1.
    EXPECT_EQ(Column(colTagValue), (Strings{"", "", ""}));
    EXPECT_EQ(pageView.rows, page.Grid());
    page.ShowTagValue(0, "55");
    EXPECT_EQ(Column(colTagValue), (Strings{"", "", ""}));

    Exec("UPDATE DEVICE SET DISABLED = 1 WHERE ID = " + std::to_string(pump));
    cfg.bbnSaveClick();
    EXPECT_EQ(page.DisplayedDevice(), nullptr);
}

TEST_F(SettingsPageTest, RegisterNewNeedsADeviceAndFillsRowOneFirst) {
    page.bbnNewClick();
    EXPECT_EQ(general.shown, Strings{"Please select a Device first!"});
    EXPECT_TRUE(dialogs.ioShown.empty());

    const int64_t fresh = AddDevice("Fresh");
    page.RefreshDevices();
    Select("Fresh");
    dialogs.io = {TRegisterFields{"it's", "40", 1, "F'1"}, TRegisterFields{"second", "41", 0, "F2"}};
    page.bbnNewClick();
    const std::string id = std::to_string(data.MaxRegisterId());
    ASSERT_EQ(page.Grid().size(), 2u);
    EXPECT_EQ(page.Grid()[1], (TGridRow{id, "it's", "40", "Coil", "F'1", ""}));
    page.bbnNewClick();
    EXPECT_EQ(Column(colTagName), (Strings{"F'1", "F2"}));
    EXPECT_EQ(pageView.rows, page.Grid());
    EXPECT_EQ(general.shown.back(), "New Register added!" + kRestart);
    EXPECT_EQ(Count("SELECT * FROM I_O_SETTING WHERE TAG_NAME = 'F''1' AND REGISTER_TYPE = 1 AND DEVICE_ID = " +
                    std::to_string(fresh)),
              1);
}

TEST_F(SettingsPageTest, RegisterDialogRefusesEmptyNonNumericAndDuplicateFields) {
    // The row of a deleted device still owns its tag name.
    Select("Idle");
    general.answers = {mrYes};
    page.btnDeleteDeviceClick();
    Select("Pump");
    general.shown.clear();
    // A value of several registers needs its next ones: register 65536 (address 65535) is the last.
    dialogs.io = {TRegisterFields{"d", "abc", 0, "T"}, TRegisterFields{"", "1", 0, "T"},
                  TRegisterFields{"d", "1", 0, ""},    TRegisterFields{"d", "1", 0, "IDLE_X"},
                  TRegisterFields{"d", "1", 0, "SPEED"}, TRegisterFields{"d", "65536", 0, "T", 2},
                  TRegisterFields{"d", "0", 2, "T", 4},  TRegisterFields{"d", "65534", 0, "T", 5},
                  TRegisterFields{"d", "1", 0, "T", 6},  TRegisterFields{"d", "1", 0, "speed"}};
    page.bbnNewClick();
    const std::string exists = "Tag Name already exists!\r\rPlease use a different OPC Tag Name.";
    auto tooHigh = [](const char* type, int count) {
        return std::string("Register No. too high for the data type!\r\rA ") + type + " value takes " +
               std::to_string(count) + " registers from its number on; the last register is 65536.";
    };
    EXPECT_EQ(general.shown, (Strings{kEmpty, kEmpty, kEmpty, exists, exists, tooHigh("UInt32", 2), tooHigh("Float32", 2),
                                      tooHigh("Float64", 4), kEmpty, "New Register added!" + kRestart}));
    // Scaling: four numbers or none, raw low unlike raw high, EU low unlike EU high, units only with them.
    general.shown.clear();
    auto scaled = [](const char* rawHigh, const char* euLow, const char* units) {
        return TRegisterFields{"s", "9", 0, "SCALED", 0, "0", rawHigh, euLow, "100", units};
    };
    dialogs.io = {scaled("", "0", ""), scaled("x", "0", ""), scaled("0", "0", ""), scaled("10", "100", ""),
                  TRegisterFields{"s", "9", 0, "SCALED", 0, "", "", "", "", "%"}, scaled("27648", "0", "%")};
    page.bbnNewClick();
    const std::string numbers = "Scaling needs four numbers!\r\rRaw low, raw high, EU low and EU high must all be "
                                "numbers, or all be empty (no scaling; then the units stay empty too).";
    EXPECT_EQ(general.shown, (Strings{numbers, numbers, "Raw low and raw high must differ!",
                                      "EU low and EU high must differ!", numbers, "New Register added!" + kRestart}));
    // The last value that fits, and a coil, whose data type is dropped, at the last number.
    general.shown.clear();
    dialogs.io = {TRegisterFields{"e", "65535", 2, "T2", 3}};
    page.bbnNewClick();
    dialogs.io = {TRegisterFields{"f", "65536", 3, "T3", 5}};
    page.bbnNewClick();
    EXPECT_EQ(general.shown, (Strings{"New Register added!" + kRestart, "New Register added!" + kRestart}));
    EXPECT_EQ(Count("SELECT * FROM I_O_SETTING WHERE TAG_NAME = 'T2' AND DATA_TYPE = 3 AND REGISTER_TYPE = 2"), 1);
    EXPECT_EQ(Count("SELECT * FROM I_O_SETTING WHERE TAG_NAME = 'T3' AND DATA_TYPE = 0 AND REGISTER_TYPE = 3"), 1);

    // Editing a register without changing its tag name passes the check.
    general.shown.clear();
    page.sgdListSelectCell(2);
    dialogs.io = {TRegisterFields{"b speed'", "2", 0, "SPEED"}};
    page.bbnEditClick();
    EXPECT_EQ(dialogs.ioShown.back().TagName, "SPEED");
    EXPECT_EQ(general.shown, Strings{"Register Settings updated!" + kRestart});
    EXPECT_EQ(page.Grid()[2][colDescription], "b speed'");
    EXPECT_EQ(Count("SELECT * FROM I_O_SETTING WHERE DESCRIPTION = 'b speed'''"), 1);
}

TEST_F(SettingsPageTest, DeletingAMiddleRegisterAndTheOnlyRegister) {
    Select("Pump");
    page.sgdListSelectCell(2);
    const std::string middle = page.Grid()[2][colNo];
    general.answers = {2, mrYes};  // Cancel, then Yes
    page.bbnDeleteClick();
    EXPECT_EQ(page.Grid().size(), 4u);
    page.bbnDeleteClick();
    EXPECT_EQ(general.shown, (Strings{"Are you sure to delete Register Setting for 2?",
                                      "Are you sure to delete Register Setting for 2?", "Device deleted!" + kRestart}));
    EXPECT_EQ(Column(colTagName), (Strings{"FLOW", "TEMP"}));
    EXPECT_EQ(Count("SELECT * FROM I_O_SETTING WHERE ID = " + middle), 0);

    Select("Idle");
    page.sgdListSelectCell(1);
    general.answers = {mrYes};
    page.bbnDeleteClick();
    ASSERT_EQ(page.Grid().size(), 2u);
    EXPECT_EQ(page.Grid()[1], TGridRow{});
    EXPECT_EQ(Count("SELECT * FROM I_O_SETTING WHERE DEVICE_ID = " + std::to_string(idle)), 0);

    // The empty row and the title row hold no register: nothing is asked, edited or deleted.
    general.shown.clear();
    page.bbnDeleteClick();
    page.sgdListSelectCell(0);
    page.bbnDeleteClick();
    page.bbnEditClick();
    EXPECT_TRUE(general.shown.empty() && dialogs.ioShown.empty());
}

TEST_F(SettingsPageTest, DeviceNewEditDeleteWithChecksAndMessages) {
    dialogs.device = {TDeviceFields{"New'one", "10.0.0.9", "5o2", "1", false},
                      TDeviceFields{"New'one", "10.0.0.9", "502", "x", false},
                      TDeviceFields{"", "10.0.0.9", "502", "1", false},
                      TDeviceFields{"New'one", "10.0.0.9", "502", "1", false, false, "-1"},
                      TDeviceFields{"New'one", "10.0.0.9", "502", "1", false, false, "3600001"},
                      TDeviceFields{"New'one", "10.0.0.9", "1502", "3", true, false, "3600000"}};
    page.btnNewDeviceClick();
    EXPECT_EQ((Strings{dialogs.deviceShown[0].IpAddress, dialogs.deviceShown[0].Port, dialogs.deviceShown[0].UnitId}),
              (Strings{"0.0.0.0", "502", "1"}));
    EXPECT_EQ(general.shown, (Strings{kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, "New Device added!"}));
    EXPECT_EQ(pageView.items, (Strings{"Idle - 10.1.1.1", "New'one - 10.0.0.9", "Pump - 127.0.0.1"}));

    general.shown.clear();
    Select("Idle");
    dialogs.device = {TDeviceFields{"Idle'2", "10.1.1.1", "502", "1", false}};
    page.btnEditDeviceClick();
    EXPECT_TRUE(dialogs.deviceShown.back().Disabled);
    EXPECT_EQ(general.shown, Strings{"Device Settings updated!"});
    EXPECT_EQ(pageView.items[0], "Idle'2 - 10.1.1.1");
    EXPECT_EQ(page.SelectedDeviceId(), 0);  // the list was refilled

    general.shown.clear();
    Select("Pump");
    general.answers = {mrYes};
    page.btnDeleteDeviceClick();
    EXPECT_EQ(general.shown, (Strings{"Are you sure to delete Device for Pump - 127.0.0.1?", "Device deleted!"}));
    EXPECT_EQ(pageView.items.size(), 2u);
    EXPECT_EQ(Count("SELECT * FROM I_O_SETTING WHERE DEVICE_ID = " + std::to_string(pump)), 3);
}

TEST_F(SettingsPageTest, DatabaseFailuresAreReportedNotRaised) {
    Select("Pump");
    page.sgdListSelectCell(1);
    db.access.DisconnectDB(db.conn, true);  // every statement fails from now on
    dialogs.io = {TRegisterFields{"d", "1", 0, "FREE"}};
    page.bbnEditClick();
    general.answers = {mrYes};
    page.bbnDeleteClick();
    dialogs.device = {TDeviceFields{"n", "1.2.3.4", "502", "1", false}};
    page.btnNewDeviceClick();
    EXPECT_EQ(general.shown,
              (Strings{"Error saving Register Settings!", "Are you sure to delete Register Setting for 1?",
                       "Error deleting Device Settings!", "Error saving Device Settings!", "Database not connected"}));
}

}  // namespace
}  // namespace tw::test
