#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opc/OpcError.h"
#include "opc/server/EnumString.h"
#include "opc/server/EnumUnknown.h"

namespace tw::opc {
namespace {

// Next(celt) on a strings enumerator: result, delivered texts.
struct TStringsBatch {
    HRESULT hr;
    std::vector<std::wstring> texts;
};

TStringsBatch NextStrings(IEnumString* e, ULONG celt) {
    std::vector<LPOLESTR> slots(celt + 1, nullptr);
    ULONG fetched = 99;
    TStringsBatch batch{e->Next(celt, slots.data(), &fetched), {}};
    if (celt == 0) return batch;
    for (ULONG i = 0; i < fetched; ++i) {
        batch.texts.emplace_back(slots[i]);
        CoTaskMemFree(slots[i]);
    }
    return batch;
}

class StringsEnumerator : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(TOPCStringsEnumerator::Create({"one", "two", "three"}, &e), S_OK); }
    void TearDown() override { EXPECT_EQ(e->Release(), 0u); }
    IEnumString* e = nullptr;
};

TEST_F(StringsEnumerator, NextRunsOutWith1781NotSFalse) {
    auto b = NextStrings(e, 2);
    EXPECT_EQ(b.hr, S_OK);
    EXPECT_EQ(b.texts, (std::vector<std::wstring>{L"one", L"two"}));
    b = NextStrings(e, 2);
    EXPECT_EQ(b.hr, ENUM_RAN_OUT);
    EXPECT_EQ(b.texts, std::vector<std::wstring>{L"three"});
    b = NextStrings(e, 1);
    EXPECT_EQ(b.hr, ENUM_RAN_OUT);
    EXPECT_TRUE(b.texts.empty());
    EXPECT_EQ(ENUM_RAN_OUT, 0x6F5);
}

TEST_F(StringsEnumerator, ZeroCountAndMissingFetchedPointer) {
    LPOLESTR slot = nullptr;
    ULONG fetched = 77;
    EXPECT_EQ(e->Next(0, &slot, &fetched), ENUM_RAN_OUT);
    EXPECT_EQ(fetched, 0u);  // a success: the count must say that nothing was delivered
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(e->Next(1, &slot, nullptr), E_INVALIDARG);
    EXPECT_EQ(slot, nullptr);
    // The position did not move.
    EXPECT_EQ(NextStrings(e, 1).texts, std::vector<std::wstring>{L"one"});
}

TEST_F(StringsEnumerator, SkipResetAndClone) {
    EXPECT_EQ(e->Skip(5), S_FALSE);
    EXPECT_TRUE(NextStrings(e, 1).texts.empty());
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(3), S_OK);  // exactly to the end is fine
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(NextStrings(e, 1).texts, std::vector<std::wstring>{L"one"});

    IEnumString* clone = nullptr;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    EXPECT_EQ(NextStrings(clone, 1).texts, std::vector<std::wstring>{L"one"});  // starts at the beginning
    EXPECT_EQ(NextStrings(e, 1).texts, std::vector<std::wstring>{L"two"});      // own cursor unchanged
    EXPECT_EQ(clone->Release(), 0u);
    EXPECT_EQ(e->Clone(nullptr), E_INVALIDARG);
}

TEST(StringsEnumeratorEmpty, NextDeliversNothingAndTextsAreASnapshot) {
    IEnumString* e = nullptr;
    ASSERT_EQ(TOPCStringsEnumerator::Create({}, &e), S_OK);
    auto b = NextStrings(e, 1);
    EXPECT_EQ(b.hr, ENUM_RAN_OUT);
    EXPECT_TRUE(b.texts.empty());
    e->Release();

    std::vector<std::string> texts{"a\xC3\xA4"};  // UTF-8 inside, UTF-16 outside
    ASSERT_EQ(TOPCStringsEnumerator::Create(texts, &e), S_OK);
    texts[0] = "changed";
    EXPECT_EQ(NextStrings(e, 1).texts, std::vector<std::wstring>{L"a\u00e4"});
    e->Release();
}

// A counted object whose references the enumerator must balance.
class TCounted : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    ULONG refs = 1;
};

TEST(UnknownEnumerator, HoldsOneReferencePerElementAndHandsOutAddRefedOnes) {
    TCounted a, b;
    IEnumUnknown* e = nullptr;
    ASSERT_EQ(TMRDUnknownEnumerator::Create({&a, &b}, &e), S_OK);
    EXPECT_EQ(a.refs, 2u);

    IUnknown* got[3] = {};
    ULONG fetched = 77;
    EXPECT_EQ(e->Next(0, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(e->Next(3, got, &fetched), ENUM_RAN_OUT);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(got[0], &a);
    EXPECT_EQ(got[1], &b);
    EXPECT_EQ(a.refs, 3u);
    got[0]->Release();
    got[1]->Release();

    IEnumUnknown* clone = nullptr;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    EXPECT_EQ(b.refs, 3u);
    EXPECT_EQ(clone->Next(1, got, &fetched), S_OK);
    EXPECT_EQ(got[0], &a);
    got[0]->Release();
    EXPECT_EQ(clone->Skip(2), S_FALSE);
    clone->Release();
    e->Release();
    EXPECT_EQ(a.refs, 1u);
    EXPECT_EQ(b.refs, 1u);
}

TEST(UnknownEnumerator, AnswersOnlyItsInterfaces) {
    IEnumUnknown* e = nullptr;
    ASSERT_EQ(TMRDUnknownEnumerator::Create({}, &e), S_OK);
    void* p = nullptr;
    EXPECT_EQ(e->QueryInterface(IID_IEnumString, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    ISupportErrorInfo* sei = nullptr;
    ASSERT_EQ(e->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&sei)), S_OK);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IEnumUnknown), S_OK);
    IUnknown* u1 = nullptr;
    IUnknown* u2 = nullptr;
    e->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u1));
    sei->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u2));
    EXPECT_EQ(u1, u2);  // one identity
    u1->Release();
    u2->Release();
    sei->Release();
    EXPECT_EQ(e->Release(), 0u);
}

}  // namespace
}  // namespace tw::opc
