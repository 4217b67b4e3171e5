// The settings file "Tarnowick.ini" and the System Settings group of the Settings page: Load, Save,
// the protection password and the Run value.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tw {

class IGeneral;
class ISecurity;
class IRunKey;

inline constexpr char kSettingsFile[] = "Tarnowick.ini";
inline constexpr char kSectionSystem[] = "System";
inline constexpr char kSectionSecurity[] = "Security";
inline constexpr char kKeyLoadOnWindowsStartup[] = "Load on Windows startup";
inline constexpr char kKeyLogEvent[] = "Log Event";
inline constexpr char kKeyHideOnStartup[] = "Load on Startup";  // the "Hide on Startup" box
inline constexpr char kKeyProtectSettings[] = "Protect Settings";
inline constexpr char kKeyPassword[] = "Password";
inline constexpr char kKeyPublishDeviceStatus[] = "Publish device status items";

inline constexpr char kPasswordMismatch[] = "Password and Confirm Password do not match!";
inline constexpr char kPasswordNotEnciphered[] = "Password cannot be enciphered!\r\rNothing was saved.";
inline constexpr char kRunValueNotWritten[] =
    "Cannot change the Windows startup setting!\r\rThe Run value needs administrator rights.";

enum TSettingsBox { cbxLoadOnStartup, cbxLogEvent, cbxHideOnStartup, cbxProtectSettings, cbxPublishDeviceStatus };
enum TPasswordEdit { edtPassword, edtConfirmPassword };

// The System Settings group as the logic sees it. Setting a box must not run its click handler.
class ISystemSettingsView {
public:
    virtual ~ISystemSettingsView() = default;
    virtual bool Checked(TSettingsBox box) const = 0;
    virtual void SetChecked(TSettingsBox box, bool checked) = 0;
    virtual std::string Text(TPasswordEdit edit) const = 0;
    virtual void SetText(TPasswordEdit edit, const std::string& text) = 0;
    // "Password:", "Confirm Password:" and both edits.
    virtual void SetPasswordControlsEnabled(bool enabled) = 0;
    virtual void FocusPassword() = 0;
};

// Where the flags read by Load take effect outside the page. Unset hooks do nothing.
struct TSettingsHooks {
    std::function<void(bool)> SetLogToFile;     // the event log's file flag
    std::function<void(bool)> SetHideOnStartup;  // the main window's hiding at start
};

class TSettings {
public:
    TSettings(ISystemSettingsView& view, IGeneral& general, ISecurity& security, IRunKey& runKey,
              std::string exeFolder, TSettingsHooks hooks = {});

    // Reads the file into the boxes, the edits and the flags held in memory.
    void Load();
    // Writes the file (and the Run value) from the boxes and edits. false: stopped before writing anything.
    // The reload that follows a Save is the caller's.
    bool Save();
    void cbxProtectSettingsClick();

    // As read at the last Load, not as the boxes are now.
    bool LogToFile() const { return logToFile_; }
    bool HideOnStartup() const { return hideOnStartup_; }
    bool ProtectSettings() const { return protectSettings_; }
    // The address space takes it when the tag table is built, once per run.
    bool PublishDeviceStatus() const { return publishDeviceStatus_; }
    // The Settings-page gate: exact, case-sensitive. A stored password that could not be deciphered
    // matches nothing.
    bool PasswordMatches(const std::string& typed) const { return storedPassword_ && *storedPassword_ == typed; }

private:
    ISystemSettingsView& view_;
    IGeneral& general_;
    ISecurity& security_;
    IRunKey& runKey_;
    std::string exeFolder_;
    TSettingsHooks hooks_;
    bool logToFile_ = false;
    bool hideOnStartup_ = false;
    bool protectSettings_ = false;
    bool publishDeviceStatus_ = false;
    std::optional<std::string> storedPassword_ = std::string();
};

}  // namespace tw
