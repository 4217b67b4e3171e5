// The "Device Setting" dialog's logic: its fields and the OK check. The view shows the fields, copies
// the controls back into them when OK is pressed and closes only when bbOKClick agrees.
#pragma once

#include <cstdint>

#include "config/ConfigStatements.h"

namespace tw {

class IGeneral;

inline constexpr char kDeviceSettingCaption[] = "Device Setting";

class TfrmDeviceSetting {
public:
    explicit TfrmDeviceSetting(IGeneral& general);

    // "Description:", "IP Address:" (dotted), "Port:", "Unit ID:", "Disabled", "Block reads" (consecutive
    // registers of one kind read with one request), "Scan interval:" (ms, empty for continuous scanning),
    // "Word order:" (list position), "Write with function 16"
    TDeviceFields Fields;
    int64_t DeviceId = 0;  // the device being edited

    // true: the dialog closes with OK; false: it stays open after the warning.
    bool bbOKClick();

private:
    IGeneral& general_;
};

}  // namespace tw
