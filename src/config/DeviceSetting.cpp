#include "config/DeviceSetting.h"

#include "config/DialogChecks.h"
#include "libs/General.h"

namespace tw {

TfrmDeviceSetting::TfrmDeviceSetting(IGeneral& general) : general_(general) {
    Fields.IpAddress = "0.0.0.0";
    Fields.Port = "502";
    Fields.UnitId = "1";
}

bool TfrmDeviceSetting::bbOKClick() {
    if (!Fields.Description.empty() && IsWholeNumber(Fields.Port) && IsWholeNumber(Fields.UnitId)) return true;
    general_.ShowMsg(kFieldsEmpty, mkWarning, mbOKOnly, 0);
    return false;
}

}  // namespace tw
