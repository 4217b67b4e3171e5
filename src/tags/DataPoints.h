// The live value of every tag. Header-only, so that the device side can store into it without
// depending on the tag table's library.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tags/Quality.h"

namespace tw {

// A value and the OPC quality it was obtained with, read together.
struct TPointSample {
    uint16_t Value = 0;
    uint16_t Quality = kQualityNotConnected;
};

struct TRealDataPoint {
    // Value in the low half and quality in the high half of one atomic word, the one datum shared
    // between threads without a lock: a reader never pairs a new value with an old quality. A point
    // starts as a value never obtained.
    std::atomic<uint32_t> Word{Pack(0, kQualityNotConnected)};
    std::string TextValue;
    bool BoolValue = false;

    static constexpr uint32_t Pack(uint16_t value, uint16_t quality) {
        return static_cast<uint32_t>(value) | (static_cast<uint32_t>(quality) << 16);
    }
    static constexpr TPointSample Unpack(uint32_t word) {
        return TPointSample{static_cast<uint16_t>(word & 0xFFFF), static_cast<uint16_t>(word >> 16)};
    }

    uint32_t Load() const { return Word.load(std::memory_order_relaxed); }
    TPointSample Sample() const { return Unpack(Load()); }
    uint16_t Value() const { return Sample().Value; }
    uint16_t Quality() const { return Sample().Quality; }
    void Store(uint16_t value, uint16_t quality) { Word.store(Pack(value, quality), std::memory_order_relaxed); }
    // Keeps the value last obtained and changes only its quality (a failed read). Another thread may
    // store meanwhile: its value is kept, not overwritten by the one read here.
    void SetQuality(uint16_t quality) {
        uint32_t word = Load();
        while (!Word.compare_exchange_weak(word, Pack(Unpack(word).Value, quality), std::memory_order_relaxed)) {
        }
    }
};

class TDataPointList {
public:
    std::size_t size() const { return Points.size(); }
    bool empty() const { return Points.empty(); }
    TRealDataPoint& operator[](std::size_t index) const { return *Points[index]; }

    void Append(std::size_t count) {
        Points.reserve(Points.size() + count);
        for (std::size_t i = 0; i < count; ++i) Points.push_back(std::make_unique<TRealDataPoint>());
    }
    void Clear() { Points.clear(); }

    // The point of a tag, or null for a register without a tag (index -1, or re-created after the
    // table was built), which stores nothing.
    TRealDataPoint* Find(int32_t tagIndex) const {
        return tagIndex >= 0 && static_cast<std::size_t>(tagIndex) < Points.size()
                   ? Points[static_cast<std::size_t>(tagIndex)].get()
                   : nullptr;
    }
    void Store(int32_t tagIndex, uint16_t value, uint16_t quality) const {
        if (TRealDataPoint* point = Find(tagIndex)) point->Store(value, quality);
    }
    void SetQuality(int32_t tagIndex, uint16_t quality) const {
        if (TRealDataPoint* point = Find(tagIndex)) point->SetQuality(quality);
    }

private:
    std::vector<std::unique_ptr<TRealDataPoint>> Points;
};

// One per tag, at the tag's index; lives from the tag table's build to FreeDataPoints.
inline TDataPointList DataPoints;

inline void FreeDataPoints() { DataPoints.Clear(); }

}  // namespace tw
