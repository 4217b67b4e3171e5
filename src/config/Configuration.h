// The configuration side of the main window, put together: the database statements, the settings,
// the Settings page's device and register editing and the load. The shell builds one and wires its
// calls into the main window's hooks.
#pragma once

#include <functional>
#include <string>

#include "config/ConfigStatements.h"
#include "config/LoadSettings.h"
#include "config/LoadedDevices.h"
#include "config/Settings.h"
#include "config/SettingsPage.h"

namespace tw {

class IRunKey;
class ISecurity;
class ISettingDialogs;

struct TConfigurationPorts {
    IDataAccess& Db;
    std::function<DbConnection()> Connection;  // the main window's connection, made at its creation
    IGeneral& General;
    ISecurity& Security;
    IRunKey& RunKey;
    ISystemSettingsView& SettingsView;
    ISettingsPageView& PageView;
    ISettingDialogs& Dialogs;
    TModBusObjList& Devices;   // the device list
    std::string ExeFolder;     // with its trailing separator
    int& SelectedGridRow;      // the remembered register-grid row
};

// Where the load reaches outside the configuration. Unset hooks do nothing.
inline constexpr char kStatusItemsAtNextStart[] =
    "Settings saved!\r\rYou must restart Tarnowick for the new setting to be effective.";

struct TConfigurationHooks {
    std::function<void(const std::string&)> WriteLog;
    std::function<void()> Stop;
    std::function<void()> Start;
    std::function<void(const std::string&)> SetCaption;
    std::function<void()> HideMainWindow;
    std::function<void(bool)> SetLogToFile;
    std::function<void(bool)> SetHideOnStartup;
};

class TConfiguration {
public:
    TConfiguration(TConfigurationPorts ports, TConfigurationHooks hooks);
    TConfiguration(const TConfiguration&) = delete;
    TConfiguration& operator=(const TConfiguration&) = delete;

    // Throws EDatabaseError when the walk fails; the creation of the main window shows it.
    void LoadSettings(bool afterSave);
    // Once per run, after the first load; with the device status items when the settings say so.
    void BuildTagTable();
    // "Save": the settings file, then the reload; a load error is shown here. A changed "Publish device
    // status items" is told to take effect at the next start.
    void bbnSaveClick();

    TSettings& Settings() { return settings_; }
    TSettingsPage& Page() { return page_; }
    TConfigDatabase& Database() { return db_; }
    TLoadedDevices& Devices() { return devices_; }

private:
    IGeneral& general_;
    TConfigDatabase db_;
    TLoadedDevices devices_;
    TSettings settings_;
    TSettingsPage page_;
    TSettingsLoader loader_;
    bool tagTableBuilt_ = false;
    bool statusItemsPublished_ = false;  // as the tag table was built
};

}  // namespace tw
