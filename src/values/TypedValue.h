// What a register holds beyond one unsigned 16-bit word: its data type, how a device orders the words
// and bytes of a value, and the one 64-bit form in which data points, items and tools carry it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tw {

// The register dialog's "Data type:" list, in list-position order (the stored I_O_SETTING.DATA_TYPE).
// Bool comes after the list: no register has it, only the gateway's own status items (0 or 1); it is
// never stored, and DataTypeOf refuses it.
enum class TDataType : uint8_t { UInt16 = 0, Int16 = 1, UInt32 = 2, Int32 = 3, Float32 = 4, Float64 = 5, Bool = 6 };
inline constexpr const char* kDataTypeNames[] = {"UInt16", "Int16", "UInt32", "Int32", "Float32", "Float64"};
inline constexpr int kDataTypeCount = 6;  // of the list

// The device dialog's "Word order:" list, in list-position order (the stored DEVICE.WORD_ORDER). The
// letters name the bytes of a 32-bit value from the most significant (A) on, as they go over the wire.
enum class TWordOrder : uint8_t { HighFirst = 0, LowFirst = 1, HighFirstSwapped = 2, LowFirstSwapped = 3 };
inline constexpr const char* kWordOrderNames[] = {"ABCD (high word first)", "CDAB (low word first)",
                                                  "BADC (high word first, bytes swapped)",
                                                  "DCBA (low word first, bytes swapped)"};
inline constexpr int kWordOrderCount = 4;

// A stored number as a data type or word order: NULL (read as 0) and anything unknown give nullopt
// for the data type, so a hand-edited row is noticed; word orders outside the list read as the first.
std::optional<TDataType> DataTypeOf(int64_t stored);
TWordOrder WordOrderOf(int64_t stored);

// How many registers one value occupies: 1, 2 or 4.
int RegisterCount(TDataType type);

// A value in the 64 bits of its type: integers sign- or zero-extended, a Float32 as its own 32 bits
// (so NaN payloads and -0 survive), a Float64 as its 64 bits. Equal values have equal bits.
using TValueBits = uint64_t;

// The value that RegisterCount(type) words, as they came over the wire, hold for a device with this
// word order. Byte swapping applies to every word, also of a 16-bit value.
TValueBits DecodeWords(const uint16_t* words, TDataType type, TWordOrder order);
// The words that carry bits to such a device; only the bits the type has are used, so a UInt16
// takes value modulo 65536 as a single register always did.
void EncodeWords(TValueBits bits, TDataType type, TWordOrder order, uint16_t* words);
// bits as the type holds them (what a register keeps after bits were written to it).
TValueBits Normalized(TValueBits bits, TDataType type);

bool IsFloat(TDataType type);
int64_t AsInteger(TValueBits bits, TDataType type);  // integer types
float AsFloat32(TValueBits bits);
double AsDouble(TValueBits bits, TDataType type);
TValueBits Float32Bits(float value);
TValueBits Float64Bits(double value);
// The bits of value rounded as OLE automation rounds (half to even) for an integer type, or cast to
// the float type; nullopt when it is out of the type's range, or NaN for an integer type.
std::optional<TValueBits> ValueFromDouble(double value, TDataType type);

// Decimal text; floats with the fewest digits that read back as the same value ("123.456", "nan",
// "inf", "-inf").
std::string ValueText(TValueBits bits, TDataType type);
std::string ShortestText(double value);
std::string ShortestText(float value);
// Typed text as an operator enters it: a whole number within the type's range for integer types; a
// decimal number (exponents, "nan", "inf" too) within its range for float types. nullopt otherwise.
std::optional<TValueBits> ParseValue(const std::string& text, TDataType type);

}  // namespace tw
