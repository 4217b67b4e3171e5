// Setting a tag's value by hand from the register grid ("Simulate" of its pop-up menu): a write to the
// device when it is online, and in every case a store into the tag's data point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "values/TypedValue.h"

namespace tw {

class TModBusObj;

inline constexpr char kSimulateCaption[] = "Simulate String Received";
inline constexpr char kSimulateScaledRefused[] =
    "Value out of range!\r\rThe register's raw value for it would not fit the register's data type.";
inline constexpr char kSimulateReadOnly[] =
    "This register is read-only!\r\rInput registers and discrete inputs of a device that answers cannot be set: "
    "their values come from the device.";

// An optional minus sign and decimal digits within the signed 32-bit range; nothing else.
std::optional<int32_t> WholeNumberValue(const std::string& text);

// The simulate dialog's contents; the Win32 view mirrors them.
class TfrmSimulate {
public:
    std::string lblOPCTag;  // the tag name, shown in bold
    std::string edtValue;   // the value field's text
    // Of the register's value: a UInt16 (a coil's too) takes any signed 32-bit whole number, modulo
    // 65536; the other integer types their own range; the float types decimal numbers.
    TDataType DataType = TDataType::UInt16;

    // Would replacing [selStart, selEnd) of text with typed leave a value of the type? A lone "-" and
    // an empty field pass too: they are on the way to one, as does a float on its way ("1e", "-.").
    static bool AcceptsEdit(const std::string& text, std::size_t selStart, std::size_t selEnd,
                            const std::string& typed, TDataType type = TDataType::UInt16);
    // Key filter of the value field: control keys (backspace, clipboard shortcuts) always pass.
    bool edtValueKeyPress(char key, std::size_t selStart, std::size_t selEnd) const;
};

// Shows the dialog modally; true when it was confirmed with "Set", with form.edtValue as typed.
class ISimulateDialog {
public:
    virtual ~ISimulateDialog() = default;
    virtual bool Execute(TfrmSimulate& form) = 0;
};

// What the Settings page knows when "Simulate" is chosen.
struct TSimulateSelection {
    int Row = 0;           // the selected register row; 0 (the title row) or less: none
    std::string TagName;   // its "OPC Tag Name" cell
    std::string TagValue;  // its "Tag Value" cell
    TModBusObj* Device = nullptr;  // the displayed device object, if it was loaded
    // The first tag of the displayed device whose register carries TagName, as the tag table finds
    // it (DeviceTagByName); -1: none, and "Set" does nothing.
    int Tag = -1;
    int Register = -1;  // that tag's register in Device
    std::function<void(int tagIndex, const std::string& value)> ShowTagValue;
    // A refusal the operator must read (a warning box).
    std::function<void(const std::string& text)> Warn;
};

// "Value out of range!" and what the type takes.
std::string SimulateValueRefused(TDataType type);

void SimulatePortClick(const TSimulateSelection& selection, ISimulateDialog& dialog);

}  // namespace tw
