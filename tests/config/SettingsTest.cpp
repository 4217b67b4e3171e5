#include "config/Settings.h"

#include "ConfigFakes.h"

namespace tw::test {
namespace {

using SettingsTest = ConfigFixture;

TEST_F(SettingsTest, LoadReadsEachKeyAndAFileWithoutKeysClearsEverything) {
    const auto boxes = {cbxLoadOnStartup, cbxLogEvent, cbxHideOnStartup, cbxProtectSettings, cbxPublishDeviceStatus};
    general.file = {{"System/Load on Windows startup", "1"}, {"System/Log Event", "1"},
                    {"System/Load on Startup", "1"}, {"Security/Protect Settings", "1"},
                    {"Security/Password", "enc:Se'cret"}, {"System/Publish device status items", "1"}};
    cfg.Settings().Load();
    for (auto box : boxes) EXPECT_TRUE(settingsView.Checked(box)) << box;
    EXPECT_TRUE(cfg.Settings().PublishDeviceStatus());
    EXPECT_TRUE(settingsView.passwordEnabled);
    EXPECT_EQ(settingsView.Text(edtConfirmPassword), "Se'cret");
    EXPECT_TRUE(cfg.Settings().PasswordMatches("Se'cret"));
    EXPECT_FALSE(cfg.Settings().PasswordMatches("se'cret"));

    general.file = {{"Security/Password", "tampered"}};  // cannot be deciphered: matches nothing
    cfg.Settings().Load();
    EXPECT_FALSE(cfg.Settings().PasswordMatches("") || cfg.Settings().PasswordMatches("tampered"));

    general.file.clear();
    cfg.Settings().Load();
    for (auto box : boxes) EXPECT_FALSE(settingsView.Checked(box)) << box;
    EXPECT_FALSE(cfg.Settings().PublishDeviceStatus());
    EXPECT_EQ(settingsView.edits, (std::map<TPasswordEdit, std::string>{{edtPassword, ""}, {edtConfirmPassword, ""}}));
    EXPECT_FALSE(settingsView.passwordEnabled);
    EXPECT_TRUE(cfg.Settings().PasswordMatches(""));
    EXPECT_EQ(steps, (Strings{"logfile on", "logfile off", "logfile off"}));
}

TEST_F(SettingsTest, MismatchWhileProtectedStopsSaveBeforeAnythingIsWritten) {
    settingsView.boxes = {{cbxProtectSettings, true}, {cbxLoadOnStartup, true}};
    settingsView.edits = {{edtPassword, "abc"}, {edtConfirmPassword, "ABC"}};
    EXPECT_FALSE(cfg.Settings().Save());
    EXPECT_EQ(general.shown, Strings{"Password and Confirm Password do not match!"});
    EXPECT_EQ(general.kinds, std::vector<int>{mkWarning});
    EXPECT_TRUE(settingsView.focused);
    EXPECT_TRUE(general.file.empty() && runKey.values.empty());
}

TEST_F(SettingsTest, SaveWritesEveryKeyAndWritesOrRemovesTheRunValue) {
    settingsView.boxes = {{cbxLoadOnStartup, true}, {cbxLogEvent, true}, {cbxPublishDeviceStatus, true}};
    // Not protected: differing edits are not compared and the password edit is what is stored.
    settingsView.edits = {{edtPassword, "pw"}, {edtConfirmPassword, "other"}};
    EXPECT_TRUE(cfg.Settings().Save());
    EXPECT_EQ(general.file, (std::map<std::string, std::string>{
                                {"System/Load on Windows startup", "1"}, {"System/Log Event", "1"},
                                {"System/Load on Startup", "0"}, {"Security/Protect Settings", "0"},
                                {"Security/Password", "enc:pw"}, {"System/Publish device status items", "1"}}));
    EXPECT_EQ(runKey.values, (std::map<std::string, std::string>{
                                 {"Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Velmora Tarnowick",
                                  "C:\\Gw\\Tarnowick.exe"}}));
    settingsView.boxes[cbxLoadOnStartup] = false;
    EXPECT_TRUE(cfg.Settings().Save() && cfg.Settings().Save());  // the second removal finds nothing
    EXPECT_TRUE(runKey.values.empty());
    EXPECT_TRUE(general.shown.empty());
}

TEST_F(SettingsTest, ProtectionReachesTheGateOnlyThroughSave) {
    settingsView.boxes = {{cbxProtectSettings, true}};
    cfg.Settings().cbxProtectSettingsClick();
    EXPECT_TRUE(settingsView.passwordEnabled);
    EXPECT_FALSE(cfg.Settings().ProtectSettings());
    cfg.bbnSaveClick();  // both edits empty: the empty text is stored enciphered, then all is reloaded
    EXPECT_EQ(general.file.at("Security/Password"), "enc:");
    EXPECT_TRUE(cfg.Settings().ProtectSettings() && cfg.Settings().PasswordMatches(""));
    EXPECT_EQ(steps.front(), "log Loading settings.");
}

TEST_F(SettingsTest, FailuresOfCipherAndRegistryAreReported) {
    settingsView.boxes = {{cbxLoadOnStartup, true}};
    security.encryptFails = true;
    EXPECT_FALSE(cfg.Settings().Save());
    EXPECT_TRUE(general.file.empty());
    security.encryptFails = false;
    runKey.fails = true;
    EXPECT_TRUE(cfg.Settings().Save());  // the file is still written
    EXPECT_EQ(general.shown, (Strings{"Password cannot be enciphered!\r\rNothing was saved.",
                                      "Cannot change the Windows startup setting!\r\rThe Run value needs "
                                      "administrator rights."}));
    EXPECT_EQ(general.file.at("System/Load on Windows startup"), "1");
}

// The address space is built once per run: the status items come with the setting as it was at
// the load before, and Save tells when it changed.
TEST_F(SettingsTest, PublishedStatusItemsFollowTheSettingAtTheNextStart) {
    AddDevice("Boiler PLC");
    general.file = {{"System/Publish device status items", "1"}};
    cfg.LoadSettings(false);
    cfg.BuildTagTable();
    EXPECT_NE(TagIdByName("_Devices.Boiler PLC.Failing"), 0u);
    for (bool ticked : {true, false, true}) {
        general.shown.clear();
        settingsView.boxes[cbxPublishDeviceStatus] = ticked;
        cfg.bbnSaveClick();
        EXPECT_EQ(general.shown, ticked ? Strings{} : Strings{kStatusItemsAtNextStart});
    }
}

// A user without the rights to change the Run value (a normal user on Windows) can still read it:
// Save tells of a failure only where the value had to change.
TEST_F(SettingsTest, WithoutRightsToTheRunValueOnlyANeededChangeIsReportedAsFailed) {
    const std::string runValue = "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Velmora Tarnowick";
    const struct {
        bool ticked;
        std::optional<std::string> before;
        bool told;
    } rows[] = {
        {false, std::nullopt, false},  // nothing to remove
        {false, "C:\\Gw\\Tarnowick.exe", true},
        {true, "C:\\Gw\\Tarnowick.exe", false},  // already as wanted
        {true, "C:\\Old\\Tarnowick.exe", true},
    };
    runKey.fails = true;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.ticked ? "ticked, " : "clear, ") + row.before.value_or("no value"));
        runKey.values.clear();
        if (row.before) runKey.values[runValue] = *row.before;
        general.shown.clear();
        settingsView.boxes = {{cbxLoadOnStartup, row.ticked}};
        EXPECT_TRUE(cfg.Settings().Save());
        EXPECT_EQ(general.shown.size(), row.told ? 1u : 0u);
        EXPECT_EQ(general.file.at("System/Load on Windows startup"), row.ticked ? "1" : "0");
    }
}

}  // namespace
}  // namespace tw::test
