#include "opc/ValueConvert.h"

#include <oleauto.h>

#include <cmath>

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
        long long value = 0;
        if (SUCCEEDED(result) && IntegerOf(copy, value) && !FitsInteger(value, target)) result = DISP_E_OVERFLOW;
        if (SUCCEEDED(result)) result = VariantChangeTypeEx(&dest, &copy, kUserDefaultLocale, 0, target);
        if (result == DISP_E_OVERFLOW) quality = 0;
    } catch (...) {
        result = DISP_E_TYPEMISMATCH;
    }
    VariantClear(&copy);
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
