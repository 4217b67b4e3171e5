// Linear scaling of a register's raw value into engineering units, and back for writes.
#pragma once

#include <optional>

#include "values/TypedValue.h"

namespace tw {

// Raw low/high map onto engineering low/high (either pair may run downwards). Unset: the register's
// own value, unscaled.
struct TScaling {
    bool Enabled = false;
    double RawLow = 0, RawHigh = 0, EuLow = 0, EuHigh = 0;
    // Engineering values are kept within [LowEu, HighEu]: read values, and written ones before they
    // become raw.
    bool Clamp = false;

    double LowEu() const { return EuLow < EuHigh ? EuLow : EuHigh; }
    double HighEu() const { return EuLow < EuHigh ? EuHigh : EuLow; }
    double ToEu(double raw) const;
    // The raw value of an engineering value, rounded to the nearest value of rawType (integers half to
    // even); nullopt when it falls outside rawType's range, or is NaN for an integer register.
    std::optional<TValueBits> ToRaw(double eu, TDataType rawType) const;
};

// The engineering value of a register value, as the bits of its reported type: a Float32 register's
// as a Float32, any other's as a Float64.
TDataType ScaledType(TDataType rawType);
TValueBits ScaledBits(const TScaling& scaling, TValueBits raw, TDataType rawType);

}  // namespace tw
