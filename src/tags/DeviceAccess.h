// Reads and writes that reach a tag's device at once, on the caller's thread.
#pragma once

#include <cstdint>

namespace tw {

// Reads the tag's register into its data point and returns the value (0 on failure, for a
// simulated device, or for an index that names no tag).
uint16_t ReadTagFromDevice(int32_t tagIndex);
// Writes the low 16 bits of value to the tag's register or coil; failures are not reported.
void WriteTagToDevice(int32_t tagIndex, uint32_t value);

}  // namespace tw
