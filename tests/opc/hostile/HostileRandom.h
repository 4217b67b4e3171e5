// The run's one source of choices: seeded, so a seed reproduces a run call for call.
#pragma once

#include <cstdint>
#include <vector>

namespace tw::opc::hostile {

class TRng {
public:
    explicit TRng(uint64_t seed) : state_(seed) {}
    uint64_t Next() {  // splitmix64: the same numbers on every compiler and platform
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(Next() % n); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    template <class T>
    const T& Pick(const std::vector<T>& v) {
        return v[Below(static_cast<uint32_t>(v.size()))];
    }
    template <class T, std::size_t N>
    const T& Pick(const T (&a)[N]) {
        return a[Below(static_cast<uint32_t>(N))];
    }

private:
    uint64_t state_;
};

}  // namespace tw::opc::hostile
