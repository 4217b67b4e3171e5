// An array for a client, allocated zero-filled with the COM task allocator: freed unless handed out.
#pragma once

#include <objbase.h>

#include <cstddef>
#include <cstring>

namespace tw::opc {

template <class T>
class TTaskArray {
public:
    explicit TTaskArray(std::size_t count) : items_(static_cast<T*>(CoTaskMemAlloc(count * sizeof(T)))) {
        if (items_) std::memset(static_cast<void*>(items_), 0, count * sizeof(T));
    }
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
