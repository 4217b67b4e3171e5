#include "config/Settings.h"

#include "config/RunKey.h"
#include "libs/General.h"
#include "libs/Security.h"

namespace tw {

TSettings::TSettings(ISystemSettingsView& view, IGeneral& general, ISecurity& security, IRunKey& runKey,
                     std::string exeFolder, TSettingsHooks hooks)
    : view_(view),
      general_(general),
      security_(security),
      runKey_(runKey),
      exeFolder_(std::move(exeFolder)),
      hooks_(std::move(hooks)) {}

void TSettings::Load() {
    auto flag = [this](const char* section, const char* key) {
        return general_.GetInitSettingBool(section, key, kSettingsFile, false);
    };
    view_.SetChecked(cbxLoadOnStartup, flag(kSectionSystem, kKeyLoadOnWindowsStartup));

    logToFile_ = flag(kSectionSystem, kKeyLogEvent);
    view_.SetChecked(cbxLogEvent, logToFile_);
    if (hooks_.SetLogToFile) hooks_.SetLogToFile(logToFile_);

    hideOnStartup_ = flag(kSectionSystem, kKeyHideOnStartup);
    view_.SetChecked(cbxHideOnStartup, hideOnStartup_);
    if (hooks_.SetHideOnStartup) hooks_.SetHideOnStartup(hideOnStartup_);

    protectSettings_ = flag(kSectionSecurity, kKeyProtectSettings);
    view_.SetChecked(cbxProtectSettings, protectSettings_);

    publishDeviceStatus_ = flag(kSectionSystem, kKeyPublishDeviceStatus);
    view_.SetChecked(cbxPublishDeviceStatus, publishDeviceStatus_);

    const std::string stored = general_.GetInitSettingStr(kSectionSecurity, kKeyPassword, kSettingsFile, "");
    storedPassword_ = security_.Decrypt(stored);
    const std::string shown = storedPassword_.value_or("");
    view_.SetText(edtPassword, shown);
    view_.SetText(edtConfirmPassword, shown);

    cbxProtectSettingsClick();
}

bool TSettings::Save() {
    const bool protect = view_.Checked(cbxProtectSettings);
    const std::string password = view_.Text(edtPassword);
    if (protect && password != view_.Text(edtConfirmPassword)) {
        general_.ShowMsg(kPasswordMismatch, mkWarning, mbOKOnly, 0);
        view_.FocusPassword();
        return false;
    }
    // Enciphered before anything is written: a password that cannot be stored must not leave the file
    // half saved, nor be written as plain or empty text.
    const std::optional<std::string> enciphered = security_.Encrypt(password);
    if (!enciphered) {
        general_.ShowMsg(kPasswordNotEnciphered, mkError, mbOKOnly, 0);
        return false;
    }

    const bool runOnStartup = view_.Checked(cbxLoadOnStartup);
    general_.SetInitSettingBool(kSectionSystem, kKeyLoadOnWindowsStartup, runOnStartup, kSettingsFile);
    if (!SetRunOnStartup(runKey_, kRunValueName, exeFolder_ + kExeFileName, false, !runOnStartup))
        general_.ShowMsg(kRunValueNotWritten, mkWarning, mbOKOnly, 0);
    general_.SetInitSettingBool(kSectionSystem, kKeyLogEvent, view_.Checked(cbxLogEvent), kSettingsFile);
    general_.SetInitSettingBool(kSectionSystem, kKeyHideOnStartup, view_.Checked(cbxHideOnStartup), kSettingsFile);
    general_.SetInitSettingBool(kSectionSystem, kKeyPublishDeviceStatus, view_.Checked(cbxPublishDeviceStatus),
                                kSettingsFile);
    general_.SetInitSettingBool(kSectionSecurity, kKeyProtectSettings, protect, kSettingsFile);
    general_.SetInitSettingStr(kSectionSecurity, kKeyPassword, *enciphered, kSettingsFile);
    return true;
}

void TSettings::cbxProtectSettingsClick() { view_.SetPasswordControlsEnabled(view_.Checked(cbxProtectSettings)); }

}  // namespace tw
