// One configured register or coil of a device.
#pragma once

#include <cstdint>
#include <string>

namespace tw {

struct TIOPointObj {
    std::string Description;
    int32_t RegisterNo = 0;    // 1-based; sent as an unsigned 16-bit number
    int32_t RegisterType = 0;  // 0 holding register (functions 3 and 6), anything else a coil (1 and 5)
    std::string TagName;
    int32_t TagIndex = -1;     // set by the tag table's build; -1: no data point
};

}  // namespace tw
