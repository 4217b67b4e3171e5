#include "values/TypedValue.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace tw {

namespace {
uint16_t Swapped(uint16_t word) { return static_cast<uint16_t>((word << 8) | (word >> 8)); }

bool LowFirst(TWordOrder order) { return order == TWordOrder::LowFirst || order == TWordOrder::LowFirstSwapped; }
bool BytesSwapped(TWordOrder order) {
    return order == TWordOrder::HighFirstSwapped || order == TWordOrder::LowFirstSwapped;
}

struct TRange {
    double Low, High;
};
TRange IntegerRange(TDataType type) {
    switch (type) {
    case TDataType::UInt16: return {0.0, 65535.0};
    case TDataType::Int16: return {-32768.0, 32767.0};
    case TDataType::UInt32: return {0.0, 4294967295.0};
    default: return {-2147483648.0, 2147483647.0};
    }
}

template <typename T>
std::string Shortest(T value) {
    if (std::isnan(value)) return "nan";
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}
}  // namespace

std::optional<TDataType> DataTypeOf(int64_t stored) {
    if (stored < 0 || stored >= kDataTypeCount) return std::nullopt;
    return static_cast<TDataType>(stored);
}

TWordOrder WordOrderOf(int64_t stored) {
    return stored > 0 && stored < kWordOrderCount ? static_cast<TWordOrder>(stored) : TWordOrder::HighFirst;
}

int RegisterCount(TDataType type) {
    switch (type) {
    case TDataType::UInt32:
    case TDataType::Int32:
    case TDataType::Float32: return 2;
    case TDataType::Float64: return 4;
    default: return 1;
    }
}

bool IsFloat(TDataType type) { return type == TDataType::Float32 || type == TDataType::Float64; }

TValueBits Normalized(TValueBits bits, TDataType type) {
    switch (type) {
    case TDataType::UInt16: return bits & 0xFFFF;
    case TDataType::Int16: return static_cast<TValueBits>(static_cast<int64_t>(static_cast<int16_t>(bits & 0xFFFF)));
    case TDataType::UInt32:
    case TDataType::Float32: return bits & 0xFFFFFFFF;
    case TDataType::Int32: return static_cast<TValueBits>(static_cast<int64_t>(static_cast<int32_t>(bits & 0xFFFFFFFF)));
    case TDataType::Float64: return bits;
    case TDataType::Bool: return bits != 0 ? 1 : 0;
    }
    return bits;
}

TValueBits DecodeWords(const uint16_t* words, TDataType type, TWordOrder order) {
    const int count = RegisterCount(type);
    TValueBits bits = 0;
    for (int i = 0; i < count; ++i) {  // most significant word first
        uint16_t word = words[LowFirst(order) ? count - 1 - i : i];
        if (BytesSwapped(order)) word = Swapped(word);
        bits = (bits << 16) | word;
    }
    return Normalized(bits, type);
}

void EncodeWords(TValueBits bits, TDataType type, TWordOrder order, uint16_t* words) {
    const int count = RegisterCount(type);
    for (int i = 0; i < count; ++i) {  // i-th word from the most significant
        auto word = static_cast<uint16_t>(bits >> (16 * (count - 1 - i)));
        if (BytesSwapped(order)) word = Swapped(word);
        words[LowFirst(order) ? count - 1 - i : i] = word;
    }
}

int64_t AsInteger(TValueBits bits, TDataType type) { return static_cast<int64_t>(Normalized(bits, type)); }

float AsFloat32(TValueBits bits) {
    const auto raw = static_cast<uint32_t>(bits);
    float value;
    std::memcpy(&value, &raw, sizeof value);
    return value;
}

double AsDouble(TValueBits bits, TDataType type) {
    if (type == TDataType::Float32) return AsFloat32(bits);
    if (type == TDataType::Float64) {
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    return static_cast<double>(AsInteger(bits, type));
}

TValueBits Float32Bits(float value) {
    uint32_t raw;
    std::memcpy(&raw, &value, sizeof raw);
    return raw;
}

TValueBits Float64Bits(double value) {
    TValueBits raw;
    std::memcpy(&raw, &value, sizeof raw);
    return raw;
}

std::optional<TValueBits> ValueFromDouble(double value, TDataType type) {
    if (type == TDataType::Float64) return Float64Bits(value);
    if (type == TDataType::Float32) {
        // Values that round to a finite float pass; from FLT_MAX plus half its spacing on the cast
        // would give infinity.
        const double limit = static_cast<double>(std::numeric_limits<float>::max()) + std::ldexp(1.0, 103);
        if (std::isfinite(value) && std::fabs(value) >= limit) return std::nullopt;
        return Float32Bits(static_cast<float>(value));
    }
    if (std::isnan(value)) return std::nullopt;
    const double rounded = std::nearbyint(value);  // half to even, the default rounding mode
    const TRange range = IntegerRange(type);
    if (rounded < range.Low || rounded > range.High) return std::nullopt;
    return Normalized(static_cast<TValueBits>(static_cast<int64_t>(rounded)), type);
}

std::string ShortestText(double value) { return Shortest(value); }
std::string ShortestText(float value) { return Shortest(value); }

std::string ValueText(TValueBits bits, TDataType type) {
    if (type == TDataType::Float32) return ShortestText(AsFloat32(bits));
    if (type == TDataType::Float64) return ShortestText(AsDouble(bits, type));
    return std::to_string(AsInteger(bits, type));
}

std::optional<TValueBits> ParseValue(const std::string& text, TDataType type) {
    const char* first = text.data();
    const char* last = first + text.size();
    const bool plus = first != last && *first == '+';
    if (plus) ++first;  // from_chars takes no plus sign
    if (first == last || (plus && (*first == '-' || *first == '+'))) return std::nullopt;
    if (type == TDataType::Float32) {
        float value;
        const auto result = std::from_chars(first, last, value);
        if (result.ec != std::errc() || result.ptr != last) return std::nullopt;
        return Float32Bits(value);
    }
    if (type == TDataType::Float64) {
        double value;
        const auto result = std::from_chars(first, last, value);
        if (result.ec != std::errc() || result.ptr != last) return std::nullopt;
        return Float64Bits(value);
    }
    int64_t value;
    const auto result = std::from_chars(first, last, value);
    if (result.ec != std::errc() || result.ptr != last) return std::nullopt;
    const TRange range = IntegerRange(type);
    if (static_cast<double>(value) < range.Low || static_cast<double>(value) > range.High) return std::nullopt;
    return Normalized(static_cast<TValueBits>(value), type);
}

}  // namespace tw
