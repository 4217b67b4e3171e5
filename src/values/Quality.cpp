#include "values/Quality.h"

namespace tw {

std::string QualityName(uint16_t quality) {
    // The OPC substatus texts of the three quality classes; the lowest two bits are the limit field.
    static const char* const kBad[] = {"bad",           "bad config error", "bad not connected",
                                       "bad device failure", "bad sensor failure", "bad last known value",
                                       "bad comm failure",   "bad out of service"};
    static const char* const kUncertain[] = {"uncertain",          "uncertain last usable value",
                                             "uncertain",          "uncertain",
                                             "uncertain sensor not accurate", "uncertain EU units exceeded",
                                             "uncertain sub-normal",          "uncertain"};
    const unsigned substatus = (quality >> 2) & 0x0F;
    switch (quality & 0xC0) {
        case 0x00: return substatus < 8 ? kBad[substatus] : "bad";
        case 0x40: return substatus < 8 ? kUncertain[substatus] : "uncertain";
        case 0xC0: return substatus == 6 ? "good local override" : "good";
        default: return "invalid";
    }
}

}  // namespace tw
