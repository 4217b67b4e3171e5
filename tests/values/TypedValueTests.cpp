// Register values of every data type in every word order, as devices put them on the wire.
#include "values/Scaling.h"
#include "values/TypedValue.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

namespace tw {
namespace {

// A value, its big-endian bytes as IEEE 754 and two's complement lay it out (the oracle), and its text.
struct TValueRow {
    TDataType type;
    double value;
    std::vector<uint8_t> bytes;
    const char* text;
};

// The byte order on the wire for each word order: letters name the value's bytes from the most
// significant on, for 1, 2 and 4 registers.
const char* const kWire[4][3] = {
    {"AB", "ABCD", "ABCDEFGH"},  // high word first
    {"AB", "CDAB", "GHEFCDAB"},  // low word first
    {"BA", "BADC", "BADCFEHG"},  // high word first, bytes swapped
    {"BA", "DCBA", "HGFEDCBA"},  // low word first, bytes swapped
};

std::vector<uint16_t> WireWords(const std::vector<uint8_t>& bytes, TWordOrder order) {
    const char* pattern = kWire[static_cast<int>(order)][bytes.size() == 2 ? 0 : bytes.size() == 4 ? 1 : 2];
    std::vector<uint16_t> words;
    for (std::size_t i = 0; i < bytes.size(); i += 2)
        words.push_back(static_cast<uint16_t>(bytes[pattern[i] - 'A'] << 8 | bytes[pattern[i + 1] - 'A']));
    return words;
}

bool SameValue(double a, double b) { return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b)); }

TEST(TypedValue, EveryDataTypeInEveryWordOrder) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    using T = TDataType;
    const TValueRow rows[] = {
        {T::UInt16, 0x1234, {0x12, 0x34}, "4660"},
        {T::UInt16, 65535, {0xFF, 0xFF}, "65535"},
        {T::Int16, -2, {0xFF, 0xFE}, "-2"},
        {T::Int16, -32768, {0x80, 0x00}, "-32768"},
        {T::Int16, 32767, {0x7F, 0xFF}, "32767"},
        {T::UInt32, 0x12345678, {0x12, 0x34, 0x56, 0x78}, "305419896"},
        {T::UInt32, 4294967295.0, {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295"},
        {T::Int32, -2, {0xFF, 0xFF, 0xFF, 0xFE}, "-2"},
        {T::Int32, -2147483648.0, {0x80, 0, 0, 0}, "-2147483648"},
        {T::Int32, 2147483647, {0x7F, 0xFF, 0xFF, 0xFF}, "2147483647"},
        {T::Float32, 123.456f, {0x42, 0xF6, 0xE9, 0x79}, "123.456"},
        {T::Float32, -1.5, {0xBF, 0xC0, 0, 0}, "-1.5"},
        {T::Float32, -0.0, {0x80, 0, 0, 0}, "-0"},
        {T::Float32, FLT_MAX, {0x7F, 0x7F, 0xFF, 0xFF}, "3.4028235e+38"},
        {T::Float32, -FLT_MAX, {0xFF, 0x7F, 0xFF, 0xFF}, "-3.4028235e+38"},
        {T::Float32, std::numeric_limits<float>::denorm_min(), {0, 0, 0, 1}, "1e-45"},
        {T::Float32, inf, {0x7F, 0x80, 0, 0}, "inf"},
        {T::Float32, -inf, {0xFF, 0x80, 0, 0}, "-inf"},
        {T::Float32, nan, {0x7F, 0xC0, 0, 0}, "nan"},
        {T::Float64, 123.456, {0x40, 0x5E, 0xDD, 0x2F, 0x1A, 0x9F, 0xBE, 0x77}, "123.456"},
        {T::Float64, -1.5, {0xBF, 0xF8, 0, 0, 0, 0, 0, 0}, "-1.5"},
        {T::Float64, DBL_MAX, {0x7F, 0xEF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "1.7976931348623157e+308"},
        {T::Float64, std::numeric_limits<double>::denorm_min(), {0, 0, 0, 0, 0, 0, 0, 1}, "5e-324"},
        {T::Float64, -inf, {0xFF, 0xF0, 0, 0, 0, 0, 0, 0}, "-inf"},
        {T::Float64, nan, {0x7F, 0xF8, 0, 0, 0, 0, 0, 0}, "nan"},
    };
    for (const TValueRow& row : rows) {
        const std::string name = std::string(kDataTypeNames[static_cast<int>(row.type)]) + " " + row.text;
        ASSERT_EQ(RegisterCount(row.type) * 2, static_cast<int>(row.bytes.size())) << name;
        std::optional<TValueBits> bits;
        for (int o = 0; o < kWordOrderCount; ++o) {
            const auto order = static_cast<TWordOrder>(o);
            const std::vector<uint16_t> wire = WireWords(row.bytes, order);
            const TValueBits decoded = DecodeWords(wire.data(), row.type, order);
            EXPECT_TRUE(SameValue(AsDouble(decoded, row.type), row.value)) << name << " order " << o;
            if (bits) {
                EXPECT_EQ(decoded, *bits) << name << ": the same value whatever the order, order " << o;
            }
            bits = decoded;
            std::vector<uint16_t> encoded(wire.size());
            EncodeWords(decoded, row.type, order, encoded.data());
            EXPECT_EQ(encoded, wire) << name << " order " << o;
        }
        EXPECT_EQ(ValueText(*bits, row.type), row.text) << name;
        const std::optional<TValueBits> parsed = ParseValue(row.text, row.type);
        ASSERT_TRUE(parsed.has_value()) << name;
        EXPECT_TRUE(SameValue(AsDouble(*parsed, row.type), row.value)) << name;
    }
}

TEST(TypedValue, NumbersOutsideATypeAreRefused) {
    using T = TDataType;
    struct TRow {
        T type;
        double value;
        std::optional<double> held;  // none: refused
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const TRow written[] = {
        {T::UInt16, 65535.4, 65535}, {T::UInt16, -0.6, {}},         {T::Int16, 32766.5, 32766},  // half to even
        {T::Int16, 32767.5, {}},     {T::Int16, -32768.4, -32768},  {T::UInt32, 4294967295.5, {}},
        {T::Int32, 2.5, 2},          {T::Int32, -2147483648.5, -2147483648.0}, {T::Int32, nan, {}},
        {T::Float32, 3.5e38, {}},    {T::Float32, -3.5e38, {}},     {T::Float32, FLT_MAX, FLT_MAX},
        {T::Float32, 0.1, 0.1f},     {T::Float64, 1e308, 1e308},
    };
    for (const TRow& row : written) {
        const std::optional<TValueBits> bits = ValueFromDouble(row.value, row.type);
        ASSERT_EQ(bits.has_value(), row.held.has_value()) << kDataTypeNames[static_cast<int>(row.type)] << " " << row.value;
        if (bits) {
            EXPECT_EQ(AsDouble(*bits, row.type), *row.held) << row.value;
        }
    }
    struct TText {
        T type;
        const char* text;
    };
    for (const TText& t : {TText{T::UInt16, "65536"}, TText{T::UInt16, "-1"}, TText{T::Int16, "-32769"},
                           TText{T::UInt32, "4294967296"}, TText{T::Int32, "1.5"}, TText{T::Int32, "0x10"},
                           TText{T::Float32, "3.5e38"}, TText{T::Float32, "1e"}, TText{T::Float64, "+-1"},
                           TText{T::Float64, ""}, TText{T::Float64, "1,5"}})
        EXPECT_FALSE(ParseValue(t.text, t.type).has_value()) << t.text;
    EXPECT_FALSE(DataTypeOf(6).has_value());
    EXPECT_FALSE(DataTypeOf(-1).has_value());
    EXPECT_EQ(WordOrderOf(7), TWordOrder::HighFirst);
}

// Raw register values into engineering units and back, as reads and writes of analog items take them.
TEST(Scaling, BothDirectionsWithReversedRangesClampingAndRounding) {
    using T = TDataType;
    const TScaling current{true, 0, 27648, 0, 100, false};   // a 4-20 mA input
    const TScaling clamped{true, 0, 27648, 0, 100, true};
    const TScaling reversed{true, 0, 1000, 100, 0, false};   // raw up, engineering down
    const TScaling tenths{true, 0, 10, 0, 1, false};         // a meter's tenths of a volt
    const TScaling fraction{true, 0, 1, 0, 100, true};       // a Float32 register of 0..1
    struct TRead {
        const TScaling* scaling;
        T raw;
        double rawValue, eu;
    };
    for (const TRead& r : {TRead{&current, T::UInt16, 13824, 50}, TRead{&current, T::UInt16, 30000, 108.50694444444444},
                           TRead{&clamped, T::UInt16, 30000, 100}, TRead{&reversed, T::Int16, 250, 75},
                           TRead{&tenths, T::Int16, -2305, -230.5}, TRead{&fraction, T::Float32, 0.25, 25},
                           TRead{&fraction, T::Float32, -1, 0}}) {
        const TValueBits raw = *ValueFromDouble(r.rawValue, r.raw);
        const TValueBits eu = ScaledBits(*r.scaling, raw, r.raw);
        EXPECT_DOUBLE_EQ(AsDouble(eu, ScaledType(r.raw)), r.eu) << r.rawValue;
    }
    EXPECT_EQ(ScaledType(T::Float32), T::Float32);
    EXPECT_EQ(ScaledType(T::Int16), T::Float64);

    struct TWrite {
        const TScaling* scaling;
        T raw;
        double eu;
        std::optional<double> rawValue;  // none: refused, outside the raw type
    };
    for (const TWrite& w : {TWrite{&current, T::UInt16, 50, 13824}, TWrite{&current, T::UInt16, 100.0 / 3, 9216},
                            TWrite{&current, T::UInt16, 0.001, 0}, TWrite{&current, T::UInt16, 120, 33178},
                            TWrite{&current, T::UInt16, 250, {}}, TWrite{&current, T::UInt16, -1, {}},
                            TWrite{&clamped, T::UInt16, 250, 27648}, TWrite{&clamped, T::UInt16, -1, 0},
                            TWrite{&reversed, T::Int16, 75, 250}, TWrite{&reversed, T::Int16, -10, 1100},
                            TWrite{&tenths, T::Int16, -230.45, -2304},  // half to even
                            TWrite{&tenths, T::Int16, 3276.8, {}}, TWrite{&fraction, T::Float32, 50, 0.5},
                            TWrite{&fraction, T::Float32, 150, 1}}) {
        const std::optional<TValueBits> raw = w.scaling->ToRaw(w.eu, w.raw);
        ASSERT_EQ(raw.has_value(), w.rawValue.has_value()) << w.eu;
        if (raw) {
            EXPECT_EQ(AsDouble(*raw, w.raw), *w.rawValue) << w.eu;
        }
    }
    EXPECT_EQ(reversed.LowEu(), 0);
    EXPECT_EQ(reversed.HighEu(), 100);
}

}  // namespace
}  // namespace tw
