// The configuration load: the settings file, the device list box and one device object per enabled
// device with its registers, rebuilt from the database.
#pragma once

#include <functional>
#include <string>

namespace tw {

class TConfigDatabase;
class TLoadedDevices;
class TSettings;
class TRecordSet;

inline constexpr char kMainCaption[] = "Velmora Tarnowick";
inline constexpr char kLogLoading[] = "Loading settings.";
inline constexpr char kLogLoaded[] = "Settings loaded.";

// What the load needs of the main window, the event log and the run controller. Unset hooks do nothing.
struct TLoadSettingsHooks {
    std::function<void(const std::string&)> WriteLog;
    std::function<void()> Stop;   // stops every device; must have ended every scan loop when it returns
    std::function<void()> Start;
    std::function<void(const std::string&)> SetCaption;
    std::function<void()> HideMainWindow;
    std::function<void()> RefreshDevices;  // the device list box
};

class TSettingsLoader {
public:
    TSettingsLoader(TConfigDatabase& db, TSettings& settings, TLoadedDevices& devices, TLoadSettingsHooks hooks);

    // afterSave: false for the first load at creation, true for the reload after Save. A database error
    // ends the load where it happened and propagates (EDatabaseError); the devices appended so far stay.
    void LoadSettings(bool afterSave);

private:
    void LoadDevice(const TRecordSet& row);
    void Log(const std::string& text) const {
        if (hooks_.WriteLog) hooks_.WriteLog(text);
    }

    TConfigDatabase& db_;
    TSettings& settings_;
    TLoadedDevices& devices_;
    TLoadSettingsHooks hooks_;
};

}  // namespace tw
