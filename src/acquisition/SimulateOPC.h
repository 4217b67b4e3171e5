// Setting a tag's value by hand from the register grid ("Simulate" of its pop-up menu): a write to the
// device when it is online, and in every case a store into the tag's data point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tw {

class TModBusObj;

inline constexpr char kSimulateCaption[] = "Simulate String Received";

// An optional minus sign and decimal digits within the signed 32-bit range; nothing else.
std::optional<int32_t> WholeNumberValue(const std::string& text);

// The simulate dialog's contents; the Win32 view mirrors them.
class TfrmSimulate {
public:
    std::string lblOPCTag;  // the tag name, shown in bold
    std::string edtValue;   // the value field's text

    // Would replacing [selStart, selEnd) of text with typed leave a whole number? A lone "-" and an
    // empty field pass too: they are on the way to one.
    static bool AcceptsEdit(const std::string& text, std::size_t selStart, std::size_t selEnd,
                            const std::string& typed);
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
    int DeviceIndex = -1;          // its position in the device list
    std::function<void(int tagIndex, uint16_t value)> ShowTagValue;
};

void SimulatePortClick(const TSimulateSelection& selection, ISimulateDialog& dialog);

}  // namespace tw
