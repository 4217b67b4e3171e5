#include "config/IOSetting.h"

#include "acquisition/IOPointObj.h"
#include "config/DialogChecks.h"
#include "libs/General.h"

namespace tw {

std::string RegisterTypeText(int64_t type) {
    return kRegisterTypes[type >= 0 && type < kRegisterTypeCount ? type : 0];
}

int RegisterTypeOf(const std::string& text) {
    for (int i = 0; i < kRegisterTypeCount; ++i)
        if (text == kRegisterTypes[i]) return i;
    return 0;
}

bool RegisterTypeIsBit(int type) { return type == rkCoil || type == rkDiscreteInput; }

std::string RegisterNoTooHigh(int dataType) {
    const TDataType type = static_cast<TDataType>(dataType);
    return std::string("Register No. too high for the data type!\r\rA ") + kDataTypeNames[dataType] + " value takes " +
           std::to_string(RegisterCount(type)) + " registers from its number on; the last register is 65536.";
}

bool TfrmIOSetting::bbOKClick() {
    const bool typeValid = Fields.RegisterType >= 0 && Fields.RegisterType < kRegisterTypeCount;
    const bool dataTypeValid = Fields.DataType >= 0 && Fields.DataType < kDataTypeCount;
    if (Fields.Description.empty() || !IsWholeNumber(Fields.RegisterNo) || Fields.TagName.empty() || !typeValid ||
        !dataTypeValid) {
        general_.ShowMsg(kFieldsEmpty, mkWarning, mbOKOnly, 0);
        return false;
    }
    if (RegisterTypeIsBit(Fields.RegisterType)) Fields.DataType = 0;
    const int width = RegisterCount(static_cast<TDataType>(Fields.DataType));
    if (!FitsRegisters(std::stoll(Fields.RegisterNo), width)) {
        general_.ShowMsg(RegisterNoTooHigh(Fields.DataType), mkWarning, mbOKOnly, 0);
        return false;
    }
    if (db_.TagNameExists(Fields.TagName, RegisterId)) {
        general_.ShowMsg(kTagNameExists, mkWarning, mbOKOnly, 0);
        return false;
    }
    return true;
}

}  // namespace tw
