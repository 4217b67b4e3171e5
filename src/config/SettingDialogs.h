// How the Settings page shows its two modal dialogs.
#pragma once

namespace tw {

class TfrmDeviceSetting;
class TfrmIOSetting;

// The view shows the dialog filled from the logic's fields. On OK it copies the controls into the
// fields and calls bbOKClick, closing only when that returns true. Returns true when closed with OK.
class ISettingDialogs {
public:
    virtual ~ISettingDialogs() = default;
    virtual bool ShowDeviceSetting(TfrmDeviceSetting& dialog) = 0;
    virtual bool ShowIOSetting(TfrmIOSetting& dialog) = 0;
};

}  // namespace tw
