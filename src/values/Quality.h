// OPC quality words as the data points carry them. Header-only and free of COM, so that the device
// side, the OPC side and the tools share one definition.
#pragma once

#include <cstdint>
#include <string>

namespace tw {

constexpr uint16_t kQualityGood = 0xC0;
// A value forced by hand (the simulate dialog, or a client's write) while the device is not connected.
constexpr uint16_t kQualityLocalOverride = 0xD8;
constexpr uint16_t kQualityCommFailure = 0x18;
constexpr uint16_t kQualityNotConnected = 0x08;
constexpr uint16_t kQualityConfigError = 0x04;
constexpr uint16_t kQualityOutOfService = 0x1C;
constexpr uint16_t kQualityBad = 0x00;

// The GOOD class, whatever the substatus and limit bits say.
constexpr bool IsGoodQuality(uint16_t quality) { return (quality & 0xC0) == 0xC0; }

// "good", "bad comm failure", ... as operators read them; the limit bits are not named.
std::string QualityName(uint16_t quality);

}  // namespace tw
