// The live value of every tag. Header-only, so that the device side can store into it without
// depending on the tag table's library.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "values/Quality.h"

namespace tw {

// A value and the OPC quality it was obtained with, read together. The value is in the bits of its
// register's data type (TypedValue.h).
struct TPointSample {
    uint64_t Value = 0;
    uint16_t Quality = kQualityNotConnected;
};

// A value of up to 64 bits and its quality: the one datum shared between threads without a lock. A
// sequence count makes every read see a value and quality stored together, never a new value with an
// old quality nor half a value. Writers (the poll thread, on-demand reads and writes, the simulate
// dialog) take turns by making the count odd; readers never write. The count moves only when value or
// quality change, so a reader may take an unchanged count for an unchanged point. A point starts as a
// value never obtained.
class TRealDataPoint {
public:
    TRealDataPoint() = default;
    // Moved only while no other thread uses the point: the list grows only as the tag table is built.
    TRealDataPoint(TRealDataPoint&& other) noexcept
        : Seq(other.Seq.load(std::memory_order_relaxed)), QualityWord(other.QualityWord.load(std::memory_order_relaxed)),
          Bits(other.Bits.load(std::memory_order_relaxed)) {}
    TRealDataPoint& operator=(TRealDataPoint&&) = delete;

    TPointSample Sample() const {
        uint32_t version;
        return Sample(version);
    }
    // The sample and the version it belongs to.
    TPointSample Sample(uint32_t& version) const {
        for (unsigned spins = 0;; ++spins) {
            const uint32_t before = Seq.load(std::memory_order_acquire);
            // Acquire loads: the second count below cannot be read before them, so a store that
            // began meanwhile shows as a count that moved.
            const uint64_t value = Bits.load(std::memory_order_acquire);
            const uint16_t quality = QualityWord.load(std::memory_order_acquire);
            if ((before & 1) == 0 && Seq.load(std::memory_order_relaxed) == before) {
                version = before;
                return TPointSample{value, quality};
            }
            Pause(spins);
        }
    }
    uint64_t Value() const { return Sample().Value; }
    uint16_t Quality() const { return Sample().Quality; }
    // Changes whenever value or quality change; odd while a store is under way.
    uint32_t Version() const { return Seq.load(std::memory_order_acquire); }

    void Store(uint64_t value, uint16_t quality) {
        const TPointSample now = Sample();
        if (now.Value == value && now.Quality == quality) return;  // leaves readers' caches alone
        const uint32_t begun = Begin();
        Bits.store(value, std::memory_order_release);
        QualityWord.store(quality, std::memory_order_release);
        Seq.store(begun + 2, std::memory_order_release);
    }
    // Keeps the value last obtained and changes only its quality (a failed read). Another thread may
    // store meanwhile: its value is kept, not overwritten by the one read here.
    void SetQuality(uint16_t quality) {
        if (Quality() == quality) return;
        const uint32_t begun = Begin();
        const bool changed = QualityWord.load(std::memory_order_relaxed) != quality;
        if (changed) QualityWord.store(quality, std::memory_order_release);
        Seq.store(changed ? begun + 2 : begun, std::memory_order_release);
    }

private:
    // Makes the count odd for this writer; the even count it found.
    uint32_t Begin() {
        uint32_t seen = Seq.load(std::memory_order_relaxed);
        for (unsigned spins = 0;; ++spins) {
            if ((seen & 1) == 0 &&
                Seq.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire, std::memory_order_relaxed))
                return seen;
            Pause(spins);
            seen = Seq.load(std::memory_order_relaxed);
        }
    }
    // A store takes two plain stores; a writer pre-empted in between is let run.
    static void Pause(unsigned spins) {
        if (spins >= 64) std::this_thread::yield();
    }

    std::atomic<uint32_t> Seq{0};
    std::atomic<uint16_t> QualityWord{kQualityNotConnected};
    std::atomic<uint64_t> Bits{0};
};

class TDataPointList {
public:
    std::size_t size() const { return Points.size(); }
    bool empty() const { return Points.empty(); }
    TRealDataPoint& operator[](std::size_t index) const { return Points[index]; }

    // Only while no thread uses a point (the tag table's build): the points may move.
    void Append(std::size_t count) { Points.resize(Points.size() + count); }
    void Clear() { Points.clear(); }

    // The point of a tag, or null for a register without a tag (index -1, or re-created after the
    // table was built), which stores nothing.
    TRealDataPoint* Find(int32_t tagIndex) const {
        return tagIndex >= 0 && static_cast<std::size_t>(tagIndex) < Points.size()
                   ? &Points[static_cast<std::size_t>(tagIndex)]
                   : nullptr;
    }
    void Store(int32_t tagIndex, uint64_t value, uint16_t quality) const {
        if (TRealDataPoint* point = Find(tagIndex)) point->Store(value, quality);
    }
    void SetQuality(int32_t tagIndex, uint16_t quality) const {
        if (TRealDataPoint* point = Find(tagIndex)) point->SetQuality(quality);
    }

private:
    // The list's shape is set before any thread reads it; the points themselves change through a
    // const list. One array: the update pass looks at every watched point on every pass.
    mutable std::vector<TRealDataPoint> Points;
};

// One per tag, at the tag's index; lives from the tag table's build to FreeDataPoints.
inline TDataPointList DataPoints;

inline void FreeDataPoints() { DataPoints.Clear(); }

}  // namespace tw
