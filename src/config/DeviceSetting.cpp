#include "config/DeviceSetting.h"

#include "config/DialogChecks.h"
#include "libs/General.h"

#include <string>

namespace tw {

TfrmDeviceSetting::TfrmDeviceSetting(IGeneral& general) : general_(general) {
    Fields.IpAddress = "0.0.0.0";
    Fields.Port = "502";
    Fields.UnitId = "1";
}

bool TfrmDeviceSetting::bbOKClick() {
    // No scan interval is fine (continuous); one given must be a number the loader takes as given.
    const std::string& interval = Fields.ScanIntervalMs;
    const bool intervalOk = interval.empty() || (IsWholeNumber(interval) && interval[0] != '-' &&
                                                 std::stoll(interval) <= kMaxScanIntervalMs);
    if (!Fields.Description.empty() && IsWholeNumber(Fields.Port) && IsWholeNumber(Fields.UnitId) && intervalOk)
        return true;
    general_.ShowMsg(kFieldsEmpty, mkWarning, mbOKOnly, 0);
    return false;
}

}  // namespace tw
