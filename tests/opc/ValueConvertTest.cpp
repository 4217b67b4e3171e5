#include "opc/ValueConvert.h"
#include "opc/OpcError.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <cmath>
#include <tuple>

namespace tw::opc {
namespace {

long long Ticks(const FILETIME& ft) {
    return static_cast<long long>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

TEST(IsValidVarType, AcceptsPlainTypesUpToClsidOnly) {
    EXPECT_TRUE(IsValidVarType(VT_EMPTY));
    EXPECT_TRUE(IsValidVarType(VT_UI2));
    EXPECT_TRUE(IsValidVarType(72));
    EXPECT_FALSE(IsValidVarType(73));
    EXPECT_FALSE(IsValidVarType(VT_ARRAY | VT_I2));
    EXPECT_FALSE(IsValidVarType(VT_BYREF | VT_I2));
    EXPECT_FALSE(IsValidVarType(VT_VECTOR | VT_I2));
}

struct TConverted {
    HRESULT hr;
    WORD quality;
};

// Converts an integer of type from to type to, starting from good quality; dest keeps the value.
TConverted ConvertInteger(VARTYPE from, long long value, VARTYPE to, VARIANT& dest) {
    VARIANT src;
    VariantInit(&src);
    src.vt = from;
    if (from == VT_UI2) src.uiVal = static_cast<USHORT>(value);
    if (from == VT_I4) src.lVal = static_cast<LONG>(value);
    TConverted c{E_FAIL, 0xC0};
    ConvertVariant(src, to, c.quality, dest, c.hr);
    EXPECT_EQ(src.vt, from);  // the source is untouched
    return c;
}

TEST(ConvertVariant, IntegerOverflowMarksQualityBad) {
    VARIANT dst;
    VariantInit(&dst);
    // Range checks hold for every integer pair, whatever the oleaut32 underneath does.
    for (auto [from, value, to] : {std::tuple{VT_UI2, 65535LL, VT_I2}, std::tuple{VT_UI2, 40000LL, VT_I2},
                                   std::tuple{VT_I4, -1LL, VT_UI2}, std::tuple{VT_I4, 70000LL, VT_UI2}}) {
        const TConverted c = ConvertInteger(static_cast<VARTYPE>(from), value, static_cast<VARTYPE>(to), dst);
        EXPECT_EQ(c.hr, DISP_E_OVERFLOW) << value;
        EXPECT_EQ(c.quality, 0) << value;
    }
    TConverted c = ConvertInteger(VT_UI2, 32767, VT_I2, dst);
    EXPECT_EQ(c.hr, S_OK);
    EXPECT_EQ(dst.iVal, 32767);
    c = ConvertInteger(VT_UI2, 123, VT_BSTR, dst);
    ASSERT_EQ(c.hr, S_OK);
    ASSERT_EQ(dst.vt, VT_BSTR);
    EXPECT_STREQ(dst.bstrVal, L"123");
    EXPECT_EQ(c.quality, 0xC0);
    VariantClear(&dst);
}

TEST(ConvertVariant, OtherFailuresLeaveTheQualityAndTextFollowsTheUserLocale) {
    VARIANT text, dst;
    VariantInit(&text);
    VariantInit(&dst);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"abc");
    WORD quality = 0xC0;
    HRESULT hr = S_OK;
    ConvertVariant(text, VT_I4, quality, dst, hr);
    EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(quality, 0xC0);

    SysFreeString(text.bstrVal);
    text.bstrVal = SysAllocString(L"1.5");  // the test prefix's user locale uses "."
    ConvertVariant(text, VT_R8, quality, dst, hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_DOUBLE_EQ(dst.dblVal, 1.5);
    VariantClear(&text);
    VariantClear(&dst);
}

TEST(LocalDateTime, NowConvertsToTheCurrentUtcTimeWithMilliseconds) {
    FILETIME utcNow;
    GetSystemTimeAsFileTime(&utcNow);
    const long long diff = Ticks(LocalDateTimeToFileTime(NowLocalDateTime())) - Ticks(utcNow);
    EXPECT_LT(diff < 0 ? -diff : diff, 20000000LL);  // 2 s

    const double ms = 1.0 / 86400000.0;
    const double base = 46000.5;  // a date in 2025, noon
    EXPECT_EQ(Ticks(LocalDateTimeToFileTime(base + 123 * ms)) - Ticks(LocalDateTimeToFileTime(base)), 1230000LL);
    EXPECT_EQ(Ticks(LocalDateTimeToFileTime(base + 1)) - Ticks(LocalDateTimeToFileTime(base)), 864000000000LL);
}

TEST(LocalDateTime, ZeroIsTheAutomationEpochAndNegativeDaysKeepTheTimeOfDay) {
    SYSTEMTIME epoch{1899, 12, 0, 30, 0, 0, 0, 0};
    FILETIME local, utc;
    ASSERT_TRUE(SystemTimeToFileTime(&epoch, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    EXPECT_EQ(Ticks(LocalDateTimeToFileTime(0.0)), Ticks(utc));
    // -1.25: 29 December 1899, 06:00.
    EXPECT_EQ(Ticks(LocalDateTimeToFileTime(0.0)) - Ticks(LocalDateTimeToFileTime(-1.25)), 18LL * 3600 * 10000000);
}

// Typed register values as clients read them in their canonical or another type, and as clients write
// them: conversions as VariantChangeType makes them, out of range a BAD read or OPC_E_RANGE.
TEST(TypedValues, ReadInTheRequestedTypeAndWrittenWithinRange) {
    using T = TDataType;
    struct TRead {
        T type;
        double value;
        VARTYPE requested;
        HRESULT error;
        WORD quality;
        double seen;  // as a VT_R8
    };
    const TRead reads[] = {
        {T::Int16, -2, VT_I2, S_OK, 0xC0, -2},
        {T::Int16, -2, VT_UI2, DISP_E_OVERFLOW, 0, 0},
        {T::UInt32, 3000000000.0, VT_I4, DISP_E_OVERFLOW, 0, 0},
        {T::UInt32, 3000000000.0, VT_R8, S_OK, 0xC0, 3000000000.0},
        {T::Float32, 1e6, VT_I2, DISP_E_OVERFLOW, 0, 0},
        {T::Float32, 2.5, VT_I4, S_OK, 0xC0, 2},  // half to even
        {T::Float32, std::nan(""), VT_I4, DISP_E_OVERFLOW, 0, 0},
        {T::Float64, 1e300, VT_R4, DISP_E_OVERFLOW, 0, 0},
        {T::Float64, -1.5, VT_R4, S_OK, 0xC0, -1.5},
        {T::Int32, -7, VT_BSTR, S_OK, 0xC0, -7},
        {T::Bool, 1, VT_I4, S_OK, 0xC0, -1},  // VARIANT_TRUE
        {T::Bool, 0, VT_R4, S_OK, 0xC0, 0},
    };
    for (const TRead& r : reads) {
        const VARIANT canonical = CanonicalVariant(*ValueFromDouble(r.value, r.type), r.type);
        WORD quality = 0xC0;
        HRESULT error = E_FAIL;
        VARIANT out;
        VariantInit(&out);
        ConvertVariant(canonical, r.requested, quality, out, error);
        EXPECT_EQ(error, r.error) << r.value << " as " << r.requested;
        EXPECT_EQ(quality, r.quality) << r.value << " as " << r.requested;
        if (SUCCEEDED(error)) {
            EXPECT_EQ(out.vt, r.requested);
            VARIANT d;
            VariantInit(&d);
            ASSERT_EQ(VariantChangeType(&d, &out, 0, VT_R8), S_OK);
            EXPECT_EQ(d.dblVal, r.seen);
        }
        VariantClear(&out);
    }
    EXPECT_EQ(CanonicalVariant(Float32Bits(1.5f), T::Float32).vt, VT_R4);
    EXPECT_EQ(CanonicalVariant(static_cast<TValueBits>(-2), T::Int16).iVal, -2);
    EXPECT_EQ(CanonicalVariant(1, T::Bool).vt, VT_BOOL);
    EXPECT_EQ(CanonicalVariant(1, T::Bool).boolVal, VARIANT_TRUE);

    struct TWrite {
        T type;
        VARIANT value;
        HRESULT result;
        double held;
    };
    auto r8 = [](double d) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_R8;
        v.dblVal = d;
        return v;
    };
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"pump");
    VARIANT big;
    VariantInit(&big);
    big.vt = VT_I8;
    big.llVal = 1LL << 40;
    const TWrite writes[] = {
        {T::Int16, r8(-32768.4), S_OK, -32768},   {T::Int16, r8(32767.5), OPC_E_RANGE, 0},
        {T::UInt32, r8(-1), OPC_E_RANGE, 0},      {T::UInt32, r8(4294967295.0), S_OK, 4294967295.0},
        {T::Int32, r8(2.5), S_OK, 2},             {T::Int32, r8(std::nan("")), OPC_E_BADTYPE, 0},
        {T::Int32, big, OPC_E_RANGE, 0},          {T::Float32, r8(3.5e38), OPC_E_RANGE, 0},
        {T::Float32, r8(0.1), S_OK, 0.1f},        {T::Float64, text, OPC_E_BADTYPE, 0},
    };
    for (const TWrite& w : writes) {
        TValueBits bits = 0;
        EXPECT_EQ(WrittenValue(w.value, w.type, bits), w.result) << kDataTypeNames[static_cast<int>(w.type)];
        if (w.result == S_OK) {
            EXPECT_EQ(AsDouble(bits, w.type), w.held);
        }
    }
    VariantClear(&text);
}

}  // namespace
}  // namespace tw::opc
