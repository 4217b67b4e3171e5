#include "values/Scaling.h"

#include <cmath>

namespace tw {

double TScaling::ToEu(double raw) const {
    const double eu = EuLow + (raw - RawLow) * (EuHigh - EuLow) / (RawHigh - RawLow);
    if (!Clamp || std::isnan(eu)) return eu;
    return eu < LowEu() ? LowEu() : eu > HighEu() ? HighEu() : eu;
}

std::optional<TValueBits> TScaling::ToRaw(double eu, TDataType rawType) const {
    if (Clamp && !std::isnan(eu)) eu = eu < LowEu() ? LowEu() : eu > HighEu() ? HighEu() : eu;
    return ValueFromDouble(RawLow + (eu - EuLow) * (RawHigh - RawLow) / (EuHigh - EuLow), rawType);
}

TDataType ScaledType(TDataType rawType) { return rawType == TDataType::Float32 ? TDataType::Float32 : TDataType::Float64; }

TValueBits ScaledBits(const TScaling& scaling, TValueBits raw, TDataType rawType) {
    const double eu = scaling.ToEu(AsDouble(raw, rawType));
    if (rawType != TDataType::Float32) return Float64Bits(eu);
    // Beyond a float's range the value is an infinity of its sign, as a float register would hold it.
    const std::optional<TValueBits> bits = ValueFromDouble(eu, TDataType::Float32);
    return bits ? *bits : Float32Bits(eu > 0 ? INFINITY : -INFINITY);
}

}  // namespace tw
