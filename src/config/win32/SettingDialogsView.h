// The "Device Setting" and "Register Setting" dialogs as modal resource dialogs.
#pragma once

#include <windows.h>

#include <functional>

#include "config/SettingDialogs.h"

namespace tw {

class TSettingDialogsView : public ISettingDialogs {
public:
    // owner: the window the dialogs are modal to (asked at each showing).
    explicit TSettingDialogsView(std::function<HWND()> owner) : owner_(std::move(owner)) {}
    bool ShowDeviceSetting(TfrmDeviceSetting& dialog) override;
    bool ShowIOSetting(TfrmIOSetting& dialog) override;

private:
    std::function<HWND()> owner_;
};

}  // namespace tw
