// The device status items: with "Publish device status items" on, every device of the list adds
// read-only tags named "_Devices.<name>.<item>" after the register tags, whose data points the main
// thread fills from the device objects' counters and states.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "acquisition/ModBusObjList.h"
#include "values/TypedValue.h"

namespace tw {

struct TStatusItem {
    const char* Name;
    TDataType Type;
    uint64_t (*Of)(const TDeviceStatus&);
};
// In the order in which each device's status tags follow one another.
inline constexpr TStatusItem kStatusItems[] = {
    {"Connected", TDataType::Bool, [](const TDeviceStatus& s) -> uint64_t { return s.Connected; }},
    {"Simulated", TDataType::Bool, [](const TDeviceStatus& s) -> uint64_t { return s.Simulated; }},
    {"Failing", TDataType::Bool, [](const TDeviceStatus& s) -> uint64_t { return s.Failing; }},
    {"Requests", TDataType::UInt32, [](const TDeviceStatus& s) -> uint64_t { return s.Requests; }},
    {"Failures", TDataType::UInt32, [](const TDeviceStatus& s) -> uint64_t { return s.Failures; }},
    {"LastResponseMs", TDataType::UInt32, [](const TDeviceStatus& s) -> uint64_t { return s.LastResponseMs; }},
    {"BlockReads", TDataType::Bool, [](const TDeviceStatus& s) -> uint64_t { return s.BlockReads; }}};
inline constexpr int kStatusItemCount = static_cast<int>(std::size(kStatusItems));
inline constexpr char kStatusPrefix[] = "_Devices.";
// A description longer than this is cut, so that every item's full name stays within a tag name.
inline constexpr std::size_t kStatusNameLength = 35;

// The name each device's items carry between "_Devices." and the item, in list order: its
// description with every "." made "_" (the address space is flat, yet clients split names at dots),
// cut to kStatusNameLength characters, "_" when empty; a name an earlier device already has gets
// "~2", "~3", ... appended.
std::vector<std::string> StatusDeviceNames(const TModBusObjList& devices);

// Appends every device's status tags to the tag table being built (BuildTagTable).
void AppendDeviceStatusTags(const TModBusObjList& devices);
// Forgets them (ResetTagTable).
void ForgetDeviceStatusTags();
bool IsStatusTag(int32_t tagIndex);
// Stores each device's status in its items' points: GOOD whatever the device's state. After a reload
// the items follow the device of their description; those of a device no longer loaded keep their
// values with BAD, configuration error. Main thread.
void RefreshDeviceStatusTags(const TModBusObjList& devices);

}  // namespace tw
