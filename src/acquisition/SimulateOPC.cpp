#include "acquisition/SimulateOPC.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "acquisition/ModBusObj.h"
#include "tags/DataPoints.h"
#include "tags/TagTable.h"

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

bool TfrmSimulate::AcceptsEdit(const std::string& text, std::size_t selStart, std::size_t selEnd,
                               const std::string& typed) {
    if (selStart > selEnd) std::swap(selStart, selEnd);
    if (selEnd > text.size()) selEnd = text.size();
    if (selStart > selEnd) selStart = selEnd;
    const std::string result = text.substr(0, selStart) + typed + text.substr(selEnd);
    return result.empty() || result == "-" || WholeNumberValue(result).has_value();
}

bool TfrmSimulate::edtValueKeyPress(char key, std::size_t selStart, std::size_t selEnd) const {
    if (static_cast<unsigned char>(key) < 0x20) return true;
    return AcceptsEdit(edtValue, selStart, selEnd, std::string(1, key));
}

namespace {
// The first tag, in tag-index order, of this device whose register carries this name. After a reload
// the tag arrays may name positions the new device objects do not have: those are skipped.
int FindTag(const TModBusObj& device, int deviceIndex, const std::string& tagName) {
    const std::size_t count = std::min(TagDevice.size(), TagRegister.size());
    for (std::size_t tag = 0; tag < count; ++tag) {
        if (TagDevice[tag] != deviceIndex) continue;
        const int32_t reg = TagRegister[tag];
        if (reg < 0 || static_cast<std::size_t>(reg) >= device.Registers.size()) continue;
        if (device.Registers[static_cast<std::size_t>(reg)].TagName == tagName) return static_cast<int>(tag);
    }
    return -1;
}
}  // namespace

void SimulatePortClick(const TSimulateSelection& selection, ISimulateDialog& dialog) {
    if (selection.Row < 1 || selection.Device == nullptr || selection.DeviceIndex < 0) return;
    TfrmSimulate form;
    form.lblOPCTag = selection.TagName;
    form.edtValue = selection.TagValue;
    if (!dialog.Execute(form)) return;

    TModBusObj& device = *selection.Device;
    const int tag = FindTag(device, selection.DeviceIndex, form.lblOPCTag);
    if (tag < 0) return;
    // The field can be left holding "-" or nothing: such a "Set" changes nothing.
    const std::optional<int32_t> value = WholeNumberValue(form.edtValue);
    if (!value) return;
    // Modulo 65536: -1 becomes 65535, which a register takes as 0xFFFF and a coil as on. The device
    // object stores what the device (or, simulated, the operator) now holds; a failed write leaves
    // the point as it was.
    const auto word = static_cast<uint16_t>(*value);
    device.WriteRegisterValue(TagRegister[static_cast<std::size_t>(tag)], word);
    const TRealDataPoint* point = DataPoints.Find(tag);
    if (selection.ShowTagValue && point) selection.ShowTagValue(tag, point->Value());
}

}  // namespace tw
