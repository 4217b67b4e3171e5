// An array for a client, allocated zero-filled with the COM task allocator: freed unless handed out.
#pragma once

#include <objbase.h>

#include <cstddef>
#include <cstring>

namespace tw::opc {

// No array handed to a client is larger. A count that would need more comes from a broken client
// (whose own array is not that long either) and is refused like a failed allocation, before the
// client's array is read: some allocators grant such a block and zero-filling it would then take
// the machine's memory (under Wine 16 GB are granted for a count of 0xFFFFFFFF).
constexpr std::size_t kMaxTaskArrayBytes = std::size_t{64} << 20;

// count elements of size bytes, zero-filled; null when it cannot or may not be allocated.
inline void* TaskArrayAlloc(std::size_t count, std::size_t size) {
    if (size != 0 && count > kMaxTaskArrayBytes / size) return nullptr;
    void* p = CoTaskMemAlloc(count * size);
    if (p) std::memset(p, 0, count * size);
    return p;
}

template <class T>
class TTaskArray {
public:
    explicit TTaskArray(std::size_t count) : items_(static_cast<T*>(TaskArrayAlloc(count, sizeof(T)))) {}
    ~TTaskArray() { CoTaskMemFree(items_); }
    TTaskArray(const TTaskArray&) = delete;
    TTaskArray& operator=(const TTaskArray&) = delete;

    explicit operator bool() const { return items_ != nullptr; }
    T& operator[](std::size_t i) { return items_[i]; }
    // The caller owns the array from now on.
    T* Release() {
        T* out = items_;
        items_ = nullptr;
        return out;
    }

private:
    T* items_;
};

}  // namespace tw::opc
