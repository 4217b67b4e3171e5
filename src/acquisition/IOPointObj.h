// One configured register or coil of a device.
#pragma once

#include <cstdint>
#include <string>

#include "values/Scaling.h"
#include "values/TypedValue.h"

namespace tw {

// The Modbus table a register lives in: the register dialog's "Type:" list position, stored as
// I_O_SETTING.REGISTER_TYPE. Input registers and discrete inputs are read-only.
enum TRegisterKind : int32_t { rkHolding = 0, rkCoil = 1, rkInput = 2, rkDiscreteInput = 3 };

struct TIOPointObj {
    std::string Description;
    int32_t RegisterNo = 0;    // 1-based; sent as an unsigned 16-bit number
    // A TRegisterKind; any other number is a coil, as it always was.
    int32_t RegisterType = rkHolding;
    // Of a register; coils and discrete inputs hold a bit, as UInt16 0 or 1.
    TDataType DataType = TDataType::UInt16;
    // The stored configuration names nothing this version can read (an unknown data type, or a value
    // that runs past the last register): never read or written, its point says config error.
    bool Unusable = false;
    // Engineering units of a register's value for OPC clients; the device side reads and writes raw.
    TScaling Scaling;
    std::string Units;
    std::string TagName;
    int32_t TagIndex = -1;     // set by the tag table's build; -1: no data point

    TRegisterKind Kind() const {
        return RegisterType >= rkHolding && RegisterType <= rkDiscreteInput ? static_cast<TRegisterKind>(RegisterType)
                                                                            : rkCoil;
    }
    bool IsBit() const { return Kind() == rkCoil || Kind() == rkDiscreteInput; }
    bool IsReadOnly() const { return Kind() == rkInput || Kind() == rkDiscreteInput; }
    // The data type of the value its point holds: a bit is a UInt16 0 or 1.
    TDataType ValueType() const { return IsBit() ? TDataType::UInt16 : DataType; }
    int Width() const { return RegisterCount(ValueType()); }
    // What the register grid shows for the raw value: an analog register's engineering value with its
    // units, as clients see it.
    std::string ShownValue(uint64_t raw) const {
        if (IsBit() || !Scaling.Enabled) return ValueText(raw, ValueType());
        const std::string text = ValueText(ScaledBits(Scaling, raw, DataType), ScaledType(DataType));
        return Units.empty() ? text : text + " " + Units;
    }
    // The Modbus read function of its table: 3, 1, 4 or 2.
    uint8_t ReadFunction() const {
        static constexpr uint8_t kFunctions[] = {3, 1, 4, 2};
        return kFunctions[Kind()];
    }
};

// False when a value of width registers from this 1-based number on would run past the last
// register (address 65535): there is no next register to read.
inline bool FitsRegisters(int64_t registerNo, int width) {
    const int64_t address = ((registerNo - 1) % 65536 + 65536) % 65536;  // as the client sends it
    return address + width <= 65536;
}

}  // namespace tw
