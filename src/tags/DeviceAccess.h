// Reads and writes that reach a tag's device at once, on the caller's thread.
#pragma once

#include <cstdint>

#include "acquisition/ModBusObj.h"

namespace tw {

// Reads the tag's register into its data point (value and quality) and returns the point's value;
// 0 for a simulated device or an index that names no tag, whose point is left alone.
uint64_t ReadTagFromDevice(int32_t tagIndex);
// As ReadTagFromDevice, answering the value and quality that read obtained. A tag whose device is
// gone answers its point as it stands (not connected when it names no point); a status item its
// device's status now.
TPointSample SampleTagFromDevice(int32_t tagIndex);
// Writes value, in the bits of the tag's data type (a 16-bit register takes the low 16 bits), to the
// tag's register or coil; the data point takes the value only when the device (or simulation) did.
// Failed for an index that names no tag.
TWriteResult WriteTagToDevice(int32_t tagIndex, uint64_t value);

}  // namespace tw
