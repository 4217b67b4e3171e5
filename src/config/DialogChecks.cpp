#include "config/DialogChecks.h"

#include <cctype>
#include <cstdint>

namespace tw {

bool IsWholeNumber(const std::string& text) {
    std::size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (i == text.size()) return false;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        value = value * 10 + (text[i] - '0');
        if (value > INT32_MAX + int64_t{1}) return false;
    }
    return text[0] == '-' || value <= INT32_MAX;
}

}  // namespace tw
