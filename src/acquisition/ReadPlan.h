// The requests of one scan pass: one per register, or, with block reads, one per run of registers of
// one table whose numbers follow each other, as long as a single read may be.
#pragma once

#include "acquisition/IOPointObj.h"

#include <cstdint>
#include <vector>

namespace tw {

// A register that a request serves, and where its value's first word sits among the values read.
struct TReadMember {
    int Register = 0;     // index in the device's Registers
    uint16_t Offset = 0;  // 0 for the first number of the request
};

struct TReadUnit {
    uint8_t Function = 3;  // the table's read function: 3, 1, 4 or 2
    uint16_t Number = 0;   // 1-based number of the first value, as the client takes it
    uint16_t Count = 1;
    std::vector<TReadMember> Members;  // every register served; one configured twice is here twice
    // The unit is the own read of each of its members (all of them one value at offset 0): reading
    // them one at a time would send the same request.
    bool SingleValue = true;
};

// Without block reads: one unit per register, in configuration order, as the scan always read them.
// With block reads: registers ordered by table and address, a new unit at every gap, every change of
// table and whenever a unit would exceed 125 registers or 2,000 coils; a value of several registers is
// never split between two units. Addresses never wrap: register number 0 (address 65535) stands
// alone at the end of its table. Unusable registers are not read at all.
std::vector<TReadUnit> PlanReads(const std::vector<TIOPointObj>& registers, bool blockReads);

}  // namespace tw
