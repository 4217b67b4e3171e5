// Which DEVICE row each device object of the device list was loaded from. Lookups go through the
// list every time, so nothing outside it ever holds a device object across a reload.
#pragma once

#include <cstdint>
#include <vector>

#include "acquisition/ModBusObjList.h"

namespace tw {

class TLoadedDevices {
public:
    explicit TLoadedDevices(TModBusObjList& devices) : devices_(devices) {}

    TModBusObjList& List() const { return devices_; }
    // Empties the list (releasing the device objects) and forgets their rows.
    void Clear() {
        devices_.Clear();
        ids_.clear();
    }
    // Appends a new device object loaded from the row deviceId.
    TModBusObj& Add(int64_t deviceId) {
        TModBusObj& device = devices_.Add();
        ids_.push_back(deviceId);
        return device;
    }
    // Position in the list of the device loaded from deviceId; -1 when that row was not loaded.
    int IndexOf(int64_t deviceId) const {
        const int count = devices_.Count();  // the list may have been emptied behind our back
        for (int i = 0; i < count && i < static_cast<int>(ids_.size()); ++i)
            if (ids_[static_cast<std::size_t>(i)] == deviceId) return i;
        return -1;
    }
    TModBusObj* Find(int64_t deviceId) const {
        const int index = IndexOf(deviceId);
        return index < 0 ? nullptr : &devices_[index];
    }

private:
    TModBusObjList& devices_;
    std::vector<int64_t> ids_;
};

}  // namespace tw
