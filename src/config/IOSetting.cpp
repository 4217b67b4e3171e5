#include "config/IOSetting.h"

#include "config/DialogChecks.h"
#include "libs/General.h"

namespace tw {

std::string RegisterTypeText(int64_t type) { return kRegisterTypes[type == 1 ? 1 : 0]; }

int RegisterTypeOf(const std::string& text) { return text == kRegisterTypes[1] ? 1 : 0; }

bool TfrmIOSetting::bbOKClick() {
    const bool typeValid = Fields.RegisterType == 0 || Fields.RegisterType == 1;
    if (Fields.Description.empty() || !IsWholeNumber(Fields.RegisterNo) || Fields.TagName.empty() || !typeValid) {
        general_.ShowMsg(kFieldsEmpty, mkWarning, mbOKOnly, 0);
        return false;
    }
    if (db_.TagNameExists(Fields.TagName, RegisterId)) {
        general_.ShowMsg(kTagNameExists, mkWarning, mbOKOnly, 0);
        return false;
    }
    return true;
}

}  // namespace tw
