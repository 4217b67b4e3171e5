#include "shell/win32/IconResource.h"

#include <cstdint>

namespace tw {

namespace {
constexpr std::size_t kDirSize = 6, kEntrySize = 16;

uint32_t Read(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}
}  // namespace

HICON LoadIcoResource(HINSTANCE instance, int id, int cx, int cy) {
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!found) return nullptr;
    const DWORD size = SizeofResource(instance, found);
    HGLOBAL loaded = LoadResource(instance, found);
    const auto* data = static_cast<const uint8_t*>(loaded ? LockResource(loaded) : nullptr);
    if (!data || size < kDirSize || Read(data + 2, 2) != 1) return nullptr;
    const uint32_t count = Read(data + 4, 2);
    if (size < kDirSize + count * kEntrySize) return nullptr;

    const uint8_t* best = nullptr;
    uint32_t bestWidth = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = data + kDirSize + i * kEntrySize;
        const uint32_t width = entry[0] ? entry[0] : 256;
        const uint32_t offset = Read(entry + 12, 4), bytes = Read(entry + 8, 4);
        if (offset > size || bytes > size - offset) continue;
        const bool fits = width >= static_cast<uint32_t>(cx);
        const bool bestFits = best && bestWidth >= static_cast<uint32_t>(cx);
        // Prefer the smallest image that is large enough; without one, the largest there is.
        if (!best || (fits && (!bestFits || width < bestWidth)) || (!fits && !bestFits && width > bestWidth)) {
            best = entry;
            bestWidth = width;
        }
    }
    if (!best) return nullptr;
    // Only read, though the parameter is not declared const.
    HICON icon = CreateIconFromResourceEx(const_cast<PBYTE>(data + Read(best + 12, 4)), Read(best + 8, 4), TRUE,
                                          0x00030000, cx, cy, LR_DEFAULTCOLOR);
    return icon;
}

}  // namespace tw
