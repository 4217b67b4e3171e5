#include "SealedText.h"

#include <cstdint>

#include "Base64.h"

namespace vxsec {
namespace {

constexpr size_t kCheckSize = 8;

// FNV-1a, 64 bits: catches damage; forging is no concern, since anyone on the machine may call DPAPI.
std::string CheckValue(const std::string& blob) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : blob) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    std::string out(kCheckSize, '\0');
    for (size_t i = 0; i < kCheckSize; ++i) out[i] = static_cast<char>((hash >> (8 * i)) & 0xFF);
    return out;
}

}  // namespace

std::string PackSealed(const std::string& blob) { return Base64Encode(blob + CheckValue(blob)); }

std::optional<std::string> UnpackSealed(const std::string& text) {
    std::optional<std::string> bytes = Base64Decode(text);
    if (!bytes || bytes->size() <= kCheckSize) return std::nullopt;
    std::string blob = bytes->substr(0, bytes->size() - kCheckSize);
    if (CheckValue(blob) != bytes->substr(blob.size())) return std::nullopt;
    return blob;
}

}  // namespace vxsec
