#include "tags/DeviceStatusTags.h"

#include <algorithm>
#include <set>

#include "tags/TagTable.h"
#include "values/DataPoints.h"
#include "values/Quality.h"

namespace tw {

namespace {

// The device whose status a run of kStatusItemCount tags shows: the Occurrence-th device of the
// list (from 1) with this description. Every reload makes the list's objects anew, perhaps other
// ones in other places: the device is looked for again whenever the list has changed.
struct TStatusDevice {
    std::string Description;
    int Occurrence = 1;
    int Position = -1;  // in the list as last looked at; -1: no such device now
};

int32_t FirstStatusTag = -1;  // -1: none published
std::vector<TStatusDevice> StatusDevices;
unsigned long GenerationSeen = 0;

void FindDevices(const TModBusObjList& devices) {
    GenerationSeen = devices.Generation();
    for (TStatusDevice& wanted : StatusDevices) {
        wanted.Position = -1;
        for (int d = 0, seen = 0; d < devices.Count(); ++d)
            if (devices[d].Description == wanted.Description && ++seen == wanted.Occurrence) {
                wanted.Position = d;
                break;
            }
    }
}

}  // namespace

std::vector<std::string> StatusDeviceNames(const TModBusObjList& devices) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (int d = 0; d < devices.Count(); ++d) {
        std::string base = devices[d].Description.substr(0, kStatusNameLength);
        std::replace(base.begin(), base.end(), '.', '_');
        if (base.empty()) base = "_";
        std::string name = base;
        for (int n = 2; taken.count(name) > 0; ++n) name = base + "~" + std::to_string(n);
        taken.insert(name);
        names.push_back(name);
    }
    return names;
}

void AppendDeviceStatusTags(const TModBusObjList& devices) {
    FirstStatusTag = static_cast<int32_t>(TagTable.size());
    StatusDevices.clear();
    const std::vector<std::string> names = StatusDeviceNames(devices);
    for (int d = 0; d < devices.Count(); ++d) {
        const std::string& description = devices[d].Description;
        const auto earlier = std::count_if(StatusDevices.begin(), StatusDevices.end(),
                                           [&](const TStatusDevice& s) { return s.Description == description; });
        StatusDevices.push_back({description, static_cast<int>(earlier) + 1, d});
        for (const TStatusItem& item : kStatusItems)
            AppendTag(kStatusPrefix + names[static_cast<std::size_t>(d)] + "." + item.Name, item.Type, false, d, -1);
    }
    GenerationSeen = devices.Generation();
}

void ForgetDeviceStatusTags() {
    FirstStatusTag = -1;
    StatusDevices.clear();
}

bool IsStatusTag(int32_t tagIndex) {
    return FirstStatusTag >= 0 && tagIndex >= FirstStatusTag &&
           tagIndex < FirstStatusTag + static_cast<int32_t>(StatusDevices.size()) * kStatusItemCount;
}

void RefreshDeviceStatusTags(const TModBusObjList& devices) {
    if (StatusDevices.empty()) return;
    if (devices.Generation() != GenerationSeen) FindDevices(devices);
    for (std::size_t s = 0; s < StatusDevices.size(); ++s) {
        const int32_t first = FirstStatusTag + static_cast<int32_t>(s) * kStatusItemCount;
        const int position = StatusDevices[s].Position;
        if (position < 0) {
            for (int item = 0; item < kStatusItemCount; ++item) DataPoints.SetQuality(first + item, kQualityConfigError);
            continue;
        }
        const TDeviceStatus status = devices[position].Status();
        for (int item = 0; item < kStatusItemCount; ++item)
            DataPoints.Store(first + item, kStatusItems[item].Of(status), kQualityGood);
    }
}

}  // namespace tw
