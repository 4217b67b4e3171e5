// The owning list of device objects, in load order; a device's position is its device index.
#pragma once

#include "acquisition/ModBusObj.h"

#include <memory>
#include <vector>

namespace tw {

class TModBusObjList {
public:
    // Appends a new device object and returns it.
    TModBusObj& Add();
    int Count() const { return static_cast<int>(Devices.size()); }
    // Devices stay mutable through a const list: the list's shape is what is constant.
    TModBusObj& operator[](int index) const { return *Devices[static_cast<std::size_t>(index)]; }
    // Destroys every device object; stop them first.
    void Clear() {
        Devices.clear();
        ++Changes;
    }
    // Moves on with every Add and Clear: what holds positions in the list knows when to look again.
    unsigned long Generation() const { return Changes; }

private:
    std::vector<std::unique_ptr<TModBusObj>> Devices;
    unsigned long Changes = 0;
};

// The enabled devices of the loaded configuration.
extern TModBusObjList DeviceList;

}  // namespace tw
