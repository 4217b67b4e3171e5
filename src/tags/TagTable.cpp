#include "tags/TagTable.h"

#include "tags/DeviceStatusTags.h"

#include <algorithm>
#include <unordered_map>

namespace tw {

std::vector<TTagEntry> TagTable;
std::vector<int32_t> TagDevice;
std::vector<int32_t> TagRegister;

namespace {
// Name to the index of its first tag: lookups must not walk the table.
std::unordered_map<std::string, uint32_t> NameIndex;

// Tag index of an identifier, or -1; identifiers below FirstTagId wrap far out of range.
int64_t IndexOf(uint32_t id) {
    const uint32_t index = id - FirstTagId;
    return index < static_cast<uint32_t>(TagCount()) ? static_cast<int64_t>(index) : -1;
}
}  // namespace

void ResetTagTable() {
    ForgetDeviceStatusTags();
    TagTable.clear();
    TagDevice.clear();
    TagRegister.clear();
    NameIndex.clear();
    FreeDataPoints();
}

void AppendTag(const std::string& name, TDataType type, bool writable, int32_t device, int32_t reg,
               const TScaling& scaling, const std::string& units) {
    const auto index = static_cast<uint32_t>(TagTable.size());
    TagTable.push_back({FirstTagId + index, name.substr(0, MaxTagNameLength), CanonicalVarType(type, scaling.Enabled),
                        type, writable, scaling, units});
    NameIndex.emplace(TagTable.back().Name, index);  // keeps the first of equal names
    TagDevice.push_back(device);
    TagRegister.push_back(reg);
}

void BuildTagTable(const TModBusObjList& devices, bool statusItems) {
    // Built once per run; starting from empty keeps identifiers and arrays in step should it run again.
    ResetTagTable();
    for (int d = 0; d < devices.Count(); ++d) {
        TModBusObj& device = devices[d];
        for (std::size_t r = 0; r < device.Registers.size(); ++r) {
            TIOPointObj& point = device.Registers[r];
            point.TagIndex = static_cast<int32_t>(TagTable.size());
            const TScaling scaling = point.IsBit() ? TScaling{} : point.Scaling;
            AppendTag(point.TagName, point.ValueType(), !point.IsReadOnly(), d, static_cast<int32_t>(r), scaling,
                      scaling.Enabled ? point.Units : std::string());
        }
    }
    if (statusItems) AppendDeviceStatusTags(devices);
    TagTable.push_back({});
    DataPoints.Append(TagDevice.size());
    if (statusItems) RefreshDeviceStatusTags(devices);
}

int TagCount() { return static_cast<int>(TagDevice.size()); }

uint32_t TagIdByName(const std::string& name) {
    auto found = NameIndex.find(name);
    return found == NameIndex.end() ? 0 : FirstTagId + found->second;
}

std::string TagNameById(uint32_t id) {
    const int64_t index = IndexOf(id);
    return index < 0 ? std::string() : TagTable[static_cast<std::size_t>(index)].Name;
}

uint32_t CanonicalVarType(TDataType type, bool scaled) {
    static constexpr uint32_t kTypes[] = {VtUI2, VtI2, VtUI4, VtI4, VtR4, VtR8, VtBool};
    return kTypes[static_cast<int>(scaled ? ScaledType(type) : type)];
}

bool TagIsWritable(uint32_t id) {
    const int64_t index = IndexOf(id);
    return index >= 0 && TagTable[static_cast<std::size_t>(index)].Writable;
}

uint32_t TagCanonicalType(uint32_t id) {
    const int64_t index = IndexOf(id);
    return index < 0 ? VtUI2 : TagTable[static_cast<std::size_t>(index)].CanonicalType;
}

TDataType TagDataType(uint32_t id) {
    const int64_t index = IndexOf(id);
    return index < 0 ? TDataType::UInt16 : TagTable[static_cast<std::size_t>(index)].DataType;
}

const TTagEntry* TagEntry(uint32_t id) {
    const int64_t index = IndexOf(id);
    return index < 0 ? nullptr : &TagTable[static_cast<std::size_t>(index)];
}

int DeviceTagByName(const TModBusObj& device, int deviceIndex, const std::string& tagName) {
    const std::size_t count = std::min(TagDevice.size(), TagRegister.size());
    for (std::size_t tag = 0; tag < count; ++tag) {
        if (TagDevice[tag] != deviceIndex) continue;
        const int32_t reg = TagRegister[tag];
        if (reg < 0 || static_cast<std::size_t>(reg) >= device.Registers.size()) continue;
        if (device.Registers[static_cast<std::size_t>(reg)].TagName == tagName) return static_cast<int>(tag);
    }
    return -1;
}

}  // namespace tw
