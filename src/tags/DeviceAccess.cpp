#include "tags/DeviceAccess.h"

#include "tags/DeviceStatusTags.h"
#include "tags/TagTable.h"

namespace tw {

namespace {
// The device of a register's tag, or null when the index or the device list no longer fits, or the
// tag is no register (a status item).
TModBusObj* DeviceOf(int32_t tagIndex) {
    if (tagIndex < 0 || tagIndex >= TagCount() || TagRegister[static_cast<std::size_t>(tagIndex)] < 0) return nullptr;
    const int32_t device = TagDevice[static_cast<std::size_t>(tagIndex)];
    return device < DeviceList.Count() ? &DeviceList[device] : nullptr;
}
}  // namespace

uint64_t ReadTagFromDevice(int32_t tagIndex) {
    TModBusObj* device = DeviceOf(tagIndex);
    return device ? device->ReadRegisterNow(TagRegister[static_cast<std::size_t>(tagIndex)]) : 0;
}

TPointSample SampleTagFromDevice(int32_t tagIndex) {
    if (TModBusObj* device = DeviceOf(tagIndex))
        return device->SampleRegisterNow(TagRegister[static_cast<std::size_t>(tagIndex)]);
    // A device read of a status item reads the device object's counters as they are now.
    if (IsStatusTag(tagIndex)) RefreshDeviceStatusTags(DeviceList);
    const TRealDataPoint* point = DataPoints.Find(tagIndex);
    return point ? point->Sample() : TPointSample{};
}

TWriteResult WriteTagToDevice(int32_t tagIndex, uint64_t value) {
    TModBusObj* device = DeviceOf(tagIndex);
    return device ? device->WriteRegisterValue(TagRegister[static_cast<std::size_t>(tagIndex)], value)
                  : TWriteResult::Failed;
}

}  // namespace tw
