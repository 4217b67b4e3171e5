#include "acquisition/SimulateOPC.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "acquisition/ModBusObj.h"
#include "values/DataPoints.h"
#include "values/TypedValue.h"

namespace tw {

std::optional<int32_t> WholeNumberValue(const std::string& text) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::size_t first = negative ? 1 : 0;
    if (text.size() == first) return std::nullopt;
    const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                   : std::numeric_limits<int32_t>::max();
    int64_t magnitude = 0;
    for (std::size_t i = first; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) return std::nullopt;
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

namespace {
// A float on its way: digits, signs, a point, an exponent, or the letters of nan and inf(inity).
bool FloatCharacters(const std::string& text) {
    return text.find_first_not_of("0123456789+-.eEnNaAiIfFtTyY") == std::string::npos;
}
}  // namespace

bool TfrmSimulate::AcceptsEdit(const std::string& text, std::size_t selStart, std::size_t selEnd,
                               const std::string& typed, TDataType type) {
    if (selStart > selEnd) std::swap(selStart, selEnd);
    if (selEnd > text.size()) selEnd = text.size();
    if (selStart > selEnd) selStart = selEnd;
    const std::string result = text.substr(0, selStart) + typed + text.substr(selEnd);
    if (result.empty() || result == "-") return true;
    if (IsFloat(type)) return FloatCharacters(result);
    if (type == TDataType::UInt16) return WholeNumberValue(result).has_value();
    return ParseValue(result, type).has_value();
}

bool TfrmSimulate::edtValueKeyPress(char key, std::size_t selStart, std::size_t selEnd) const {
    if (static_cast<unsigned char>(key) < 0x20) return true;
    return AcceptsEdit(edtValue, selStart, selEnd, std::string(1, key), DataType);
}

std::string SimulateValueRefused(TDataType type) {
    std::string takes;
    switch (type) {
    case TDataType::Int16: takes = "a whole number from -32768 to 32767"; break;
    case TDataType::UInt32: takes = "a whole number from 0 to 4294967295"; break;
    case TDataType::Int32: takes = "a whole number from -2147483648 to 2147483647"; break;
    case TDataType::Float32: takes = "a decimal number such as 123.456 or -1.5e-3, of at most about 3.4e38"; break;
    case TDataType::Float64: takes = "a decimal number such as 123.456 or -1.5e-3"; break;
    default: takes = "a whole number from -2147483648 to 2147483647"; break;
    }
    return std::string("Value out of range!\r\rA ") + kDataTypeNames[static_cast<int>(type)] + " register takes " +
           takes + ".";
}

void SimulatePortClick(const TSimulateSelection& selection, ISimulateDialog& dialog) {
    if (selection.Row < 1 || selection.Device == nullptr) return;
    TModBusObj& device = *selection.Device;
    const bool known = selection.Tag >= 0 && selection.Register >= 0 &&
                       static_cast<std::size_t>(selection.Register) < device.Registers.size();
    const TIOPointObj* point = known ? &device.Registers[static_cast<std::size_t>(selection.Register)] : nullptr;
    const bool analog = point && !point->IsBit() && point->Scaling.Enabled;
    TfrmSimulate form;
    form.lblOPCTag = selection.TagName;
    form.edtValue = selection.TagValue;
    if (point) form.DataType = analog ? TDataType::Float64 : point->ValueType();
    // An analog register is set in engineering units: the field takes the number without its units.
    const std::string units = analog && !point->Units.empty() ? " " + point->Units : "";
    if (!units.empty() && form.edtValue.size() >= units.size() &&
        form.edtValue.compare(form.edtValue.size() - units.size(), units.size(), units) == 0)
        form.edtValue.resize(form.edtValue.size() - units.size());
    if (!dialog.Execute(form) || !point) return;

    // The field can be left holding "-" or nothing: such a "Set" changes nothing.
    if (form.edtValue.empty() || form.edtValue == "-") return;
    auto refuse = [&](const std::string& text) {
        if (selection.Warn) selection.Warn(text);
    };
    if (point->IsReadOnly() && !device.Simulated) return refuse(kSimulateReadOnly);
    std::optional<uint64_t> value;
    if (analog) {
        if (const std::optional<uint64_t> eu = ParseValue(form.edtValue, TDataType::Float64))
            value = point->Scaling.ToRaw(AsDouble(*eu, TDataType::Float64), point->DataType);
    } else if (form.DataType == TDataType::UInt16) {
        // Modulo 65536: -1 becomes 65535, which a register takes as 0xFFFF and a coil as on.
        if (const std::optional<int32_t> whole = WholeNumberValue(form.edtValue)) value = static_cast<uint16_t>(*whole);
    } else {
        value = ParseValue(form.edtValue, form.DataType);
    }
    if (!value) return refuse(analog ? kSimulateScaledRefused : SimulateValueRefused(form.DataType));
    // The device object stores what the device (or, simulated, the operator) now holds; a failed
    // write leaves the point as it was.
    device.WriteRegisterValue(selection.Register, *value);
    const TRealDataPoint* stored = DataPoints.Find(selection.Tag);
    if (selection.ShowTagValue && stored) selection.ShowTagValue(selection.Tag, point->ShownValue(stored->Value()));
}

}  // namespace tw
