// The live value of every tag. Header-only, so that the device side can store into it without
// depending on the tag table's library.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tw {

struct TRealDataPoint {
    std::atomic<uint16_t> Value{0};  // the one value shared between threads without a lock
    std::string TextValue;
    bool BoolValue = false;
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

    // A register without a tag (index -1, or re-created after the table was built) stores nothing.
    void Store(int32_t tagIndex, uint16_t value) const {
        if (tagIndex >= 0 && static_cast<std::size_t>(tagIndex) < Points.size())
            Points[static_cast<std::size_t>(tagIndex)]->Value.store(value, std::memory_order_relaxed);
    }

private:
    std::vector<std::unique_ptr<TRealDataPoint>> Points;
};

// One per tag, at the tag's index; lives from the tag table's build to FreeDataPoints.
inline TDataPointList DataPoints;

inline void FreeDataPoints() { DataPoints.Clear(); }

}  // namespace tw
