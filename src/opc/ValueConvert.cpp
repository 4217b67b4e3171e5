#include "opc/ValueConvert.h"

#include <oleauto.h>

#include <cmath>

#include "opc/OpcError.h"

namespace tw::opc {
namespace {

constexpr LCID kUserDefaultLocale = 0x400;
constexpr unsigned kFirstInvalidVarType = 73;  // VT_CLSID + 1
constexpr long long kTicksPerDay = 864000000000LL;
// 30 December 1899 as a FILETIME: 109205 days after 1 January 1601.
constexpr long long kOleEpochTicks = 109205LL * kTicksPerDay;

long long Ticks(const FILETIME& ft) {
    return static_cast<long long>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

FILETIME FromTicks(long long ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<unsigned long long>(ticks) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<unsigned long long>(ticks) >> 32);
    return ft;
}

// Integer value of a plain integer variant.
bool IntegerOf(const VARIANT& v, long long& value) {
    switch (v.vt) {
        case VT_I1: value = v.cVal; return true;
        case VT_UI1: value = v.bVal; return true;
        case VT_I2: value = v.iVal; return true;
        case VT_UI2: value = v.uiVal; return true;
        case VT_I4: value = v.lVal; return true;
        case VT_UI4: value = v.ulVal; return true;
        case VT_INT: value = v.intVal; return true;
        case VT_UINT: value = v.uintVal; return true;
        case VT_I8: value = v.llVal; return true;
        default: return false;
    }
}

// A floating value as the integer an integer target rounds it to; false for NaN and infinities.
bool RoundedOf(const VARIANT& v, long long& value) {
    double d;
    if (v.vt == VT_R4)
        d = v.fltVal;
    else if (v.vt == VT_R8)
        d = v.dblVal;
    else
        return false;
    if (!std::isfinite(d) || std::fabs(d) >= 9.2e18) {
        value = d < 0 ? INT64_MIN : INT64_MAX;  // out of every integer range, NaN included
        return true;
    }
    value = static_cast<long long>(std::nearbyint(d));
    return true;
}

bool IsIntegerType(VARTYPE vt) {
    switch (vt) {
        case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
        case VT_I8: case VT_UI8: return true;
        default: return false;
    }
}

// Whether value fits an integer target type; other targets always "fit" here.
bool FitsInteger(long long value, VARTYPE target) {
    switch (target) {
        case VT_I1: return value >= -128 && value <= 127;
        case VT_UI1: return value >= 0 && value <= 0xFF;
        case VT_I2: return value >= -32768 && value <= 32767;
        case VT_UI2: return value >= 0 && value <= 0xFFFF;
        case VT_I4:
        case VT_INT: return value >= -2147483648LL && value <= 2147483647LL;
        case VT_UI4:
        case VT_UINT: return value >= 0 && value <= 0xFFFFFFFFLL;
        case VT_UI8: return value >= 0;
        default: return true;
    }
}

}  // namespace

bool IsValidVarType(VARTYPE vt) { return static_cast<unsigned>(vt) < kFirstInvalidVarType; }

void ConvertVariant(const VARIANT& source, VARTYPE target, WORD& quality, VARIANT& dest, HRESULT& result) {
    VARIANT copy;
    VariantInit(&copy);
    try {
        result = VariantCopy(&copy, const_cast<VARIANT*>(&source));
        // Some oleaut32 builds (Wine's) turn an unsigned 16-bit 65535 into a signed -1 instead of
        // reporting the overflow; integer ranges are therefore checked here.
        // Floats are checked as the integer they round to (oleaut32 versions differ on NaN), and a VT_R8
        // too large for a VT_R4 overflows.
        long long value = 0;
        if (SUCCEEDED(result) && (IntegerOf(copy, value) || (IsIntegerType(target) && RoundedOf(copy, value))) &&
            !FitsInteger(value, target))
            result = DISP_E_OVERFLOW;
        if (SUCCEEDED(result) && target == VT_R4 && copy.vt == VT_R8 &&
            !ValueFromDouble(copy.dblVal, TDataType::Float32))
            result = DISP_E_OVERFLOW;
        if (SUCCEEDED(result)) result = VariantChangeTypeEx(&dest, &copy, kUserDefaultLocale, 0, target);
        if (result == DISP_E_OVERFLOW) quality = 0;
    } catch (...) {
        result = DISP_E_TYPEMISMATCH;
    }
    VariantClear(&copy);
}

VARIANT CanonicalVariant(TValueBits bits, TDataType type) {
    VARIANT v;
    VariantInit(&v);
    const long long integer = AsInteger(bits, type);
    switch (type) {
        case TDataType::UInt16: v.vt = VT_UI2; v.uiVal = static_cast<USHORT>(integer); break;
        case TDataType::Int16: v.vt = VT_I2; v.iVal = static_cast<SHORT>(integer); break;
        case TDataType::UInt32: v.vt = VT_UI4; v.ulVal = static_cast<ULONG>(integer); break;
        case TDataType::Int32: v.vt = VT_I4; v.lVal = static_cast<LONG>(integer); break;
        case TDataType::Float32: v.vt = VT_R4; v.fltVal = AsFloat32(bits); break;
        case TDataType::Float64: v.vt = VT_R8; v.dblVal = AsDouble(bits, type); break;
        case TDataType::Bool: v.vt = VT_BOOL; v.boolVal = bits != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    }
    return v;
}

HRESULT WrittenValue(const VARIANT& value, TDataType type, TValueBits& bits) {
    if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN || value.vt == VT_RECORD) return OPC_E_BADTYPE;
    // Whole numbers of 64 bits would lose digits on the way through a double; none fits these types.
    long long whole = 0;
    if (IntegerOf(value, whole) && (whole > 0xFFFFFFFFLL || whole < -0x80000000LL)) return OPC_E_RANGE;
    if (value.vt == VT_UI8 && value.ullVal > 0xFFFFFFFFULL) return OPC_E_RANGE;
    VARIANT number;
    VariantInit(&number);
    const HRESULT converted = VariantChangeTypeEx(&number, const_cast<VARIANT*>(&value), kUserDefaultLocale, 0, VT_R8);
    if (converted == DISP_E_OVERFLOW) return OPC_E_RANGE;
    if (FAILED(converted)) return OPC_E_BADTYPE;
    // A float register takes NaN as a float; an integer register has no such value.
    if (std::isnan(number.dblVal) && !IsFloat(type)) return OPC_E_BADTYPE;
    const std::optional<TValueBits> held = ValueFromDouble(number.dblVal, type);
    if (!held) return OPC_E_RANGE;
    bits = *held;
    return S_OK;
}

double NowLocalDateTime() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    FILETIME local;
    SystemTimeToFileTime(&st, &local);
    return static_cast<double>(Ticks(local) - kOleEpochTicks) / static_cast<double>(kTicksPerDay);
}

FILETIME LocalDateTimeToFileTime(double localDateTime) {
    // Before 1899 the day count is negative but the fraction is still the time of day.
    double days = localDateTime;
    if (days < 0) {
        const double whole = std::ceil(days);
        days = whole + (whole - days);
    }
    // Millisecond precision, as the calendar split would give.
    const double ms = std::floor(days * 86400000.0 + 0.5);
    if (!std::isfinite(ms) || ms < -9.0e15 || ms > 9.0e15) return FromTicks(0);
    long long ticks = kOleEpochTicks + static_cast<long long>(ms) * 10000;
    if (ticks < 0) ticks = 0;
    FILETIME local = FromTicks(ticks), utc{};
    if (!LocalFileTimeToFileTime(&local, &utc)) return FromTicks(0);
    return utc;
}

}  // namespace tw::opc
