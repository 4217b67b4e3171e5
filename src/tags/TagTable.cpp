#include "tags/TagTable.h"

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
    TagTable.clear();
    TagDevice.clear();
    TagRegister.clear();
    NameIndex.clear();
    FreeDataPoints();
}

void BuildTagTable(const TModBusObjList& devices) {
    // Built once per run; starting from empty keeps identifiers and arrays in step should it run again.
    ResetTagTable();
    for (int d = 0; d < devices.Count(); ++d) {
        TModBusObj& device = devices[d];
        for (std::size_t r = 0; r < device.Registers.size(); ++r) {
            const auto index = static_cast<uint32_t>(TagTable.size());
            TIOPointObj& point = device.Registers[r];
            TagTable.push_back({FirstTagId + index, point.TagName.substr(0, MaxTagNameLength), VtUI2});
            NameIndex.emplace(TagTable.back().Name, index);  // keeps the first of equal names
            point.TagIndex = static_cast<int32_t>(index);
            TagDevice.push_back(d);
            TagRegister.push_back(static_cast<int32_t>(r));
        }
    }
    TagTable.push_back({});
    DataPoints.Append(TagDevice.size());
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

bool TagIsWritable(uint32_t) { return true; }

uint32_t TagCanonicalType(uint32_t id) {
    const int64_t index = IndexOf(id);
    return index < 0 ? VtUI2 : TagTable[static_cast<std::size_t>(index)].CanonicalType;
}

}  // namespace tw
