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

std::optional<TScaling> ScalingOf(const TRegisterFields& f) {
    const std::string* numbers[] = {&f.RawLow, &f.RawHigh, &f.EuLow, &f.EuHigh};
    bool none = true;
    for (const std::string* n : numbers) none = none && n->empty();
    if (none) return f.Units.empty() ? std::optional<TScaling>(TScaling{}) : std::nullopt;
    TScaling scaling;
    double* targets[] = {&scaling.RawLow, &scaling.RawHigh, &scaling.EuLow, &scaling.EuHigh};
    for (int i = 0; i < 4; ++i) {
        const std::optional<double> number = ScalingNumber(*numbers[i]);
        if (!number) return std::nullopt;
        *targets[i] = *number;
    }
    if (scaling.RawLow == scaling.RawHigh || scaling.EuLow == scaling.EuHigh) return std::nullopt;
    scaling.Enabled = true;
    scaling.Clamp = f.Clamp;
    return scaling;
}

bool TfrmIOSetting::bbOKClick() {
    const bool typeValid = Fields.RegisterType >= 0 && Fields.RegisterType < kRegisterTypeCount;
    const bool dataTypeValid = Fields.DataType >= 0 && Fields.DataType < kDataTypeCount;
    if (Fields.Description.empty() || !IsWholeNumber(Fields.RegisterNo) || Fields.TagName.empty() || !typeValid ||
        !dataTypeValid) {
        general_.ShowMsg(kFieldsEmpty, mkWarning, mbOKOnly, 0);
        return false;
    }
    if (RegisterTypeIsBit(Fields.RegisterType)) {
        Fields.DataType = 0;
        Fields.RawLow = Fields.RawHigh = Fields.EuLow = Fields.EuHigh = Fields.Units = "";
        Fields.Clamp = false;
    }
    const std::optional<TScaling> scaling = ScalingOf(Fields);
    if (!scaling) {
        const std::optional<double> rawLow = ScalingNumber(Fields.RawLow), rawHigh = ScalingNumber(Fields.RawHigh);
        const std::optional<double> euLow = ScalingNumber(Fields.EuLow), euHigh = ScalingNumber(Fields.EuHigh);
        const char* why = !rawLow || !rawHigh || !euLow || !euHigh ? kScalingNumbers
                          : *rawLow == *rawHigh                     ? kScalingRawEqual
                                                                    : kScalingEuEqual;
        general_.ShowMsg(why, mkWarning, mbOKOnly, 0);
        return false;
    }
    if (scaling->Enabled) {
        Fields.RawLow = ShortestText(scaling->RawLow);
        Fields.RawHigh = ShortestText(scaling->RawHigh);
        Fields.EuLow = ShortestText(scaling->EuLow);
        Fields.EuHigh = ShortestText(scaling->EuHigh);
    } else {
        Fields.Clamp = false;
    }
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
