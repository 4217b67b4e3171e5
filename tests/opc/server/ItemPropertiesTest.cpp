// IOPCItemProperties and IOPCCommon of an in-process server object.
#include <gtest/gtest.h>

#include <type_traits>

#include "TagFixture.h"
#include "opc/OpcError.h"
#include "opc/ValueConvert.h"
#include "opc/server/ItemPropIMPL.h"
#include "values/DataPoints.h"

namespace tw::opc {
namespace {

using test::BuildTags;

class ItemProperties : public test::TagServer {
protected:
    void SetUp() override {
        BuildTags({"Tank", "Flow", "Level", "Pump1"});  // Pump1 is 6003
        DataPoints[3].Store(1234, kQualityGood);
        DataPoints[0].Store(77, kQualityGood);
        props = NewServer<IOPCItemProperties>(IID_IOPCItemProperties);
        ASSERT_NE(props, nullptr);
    }
    struct TValues {
        HRESULT hr = E_FAIL;
        std::vector<VARIANT> values;
        std::vector<HRESULT> errors;
    };
    TValues Get(const wchar_t* item, std::vector<DWORD> ids) {
        TValues r;
        VARIANT* v = nullptr;
        HRESULT* e = nullptr;
        r.hr = props->GetItemProperties(const_cast<LPWSTR>(item), static_cast<DWORD>(ids.size()), ids.data(), &v, &e);
        if (v && e) {
            r.values.assign(v, v + ids.size());
            r.errors.assign(e, e + ids.size());
            for (size_t i = 0; i < ids.size(); ++i) VariantClear(&v[i]);  // the copies keep plain values only
        }
        CoTaskMemFree(v);
        CoTaskMemFree(e);
        return r;
    }
    struct TLookup {
        HRESULT hr = E_FAIL;
        std::vector<std::wstring> ids;
        std::vector<HRESULT> errors;
    };
    TLookup Lookup(const wchar_t* item, std::vector<DWORD> ids) {
        TLookup r;
        LPWSTR* s = nullptr;
        HRESULT* e = nullptr;
        r.hr = props->LookupItemIDs(const_cast<LPWSTR>(item), static_cast<DWORD>(ids.size()), ids.data(), &s, &e);
        if (s && e) {
            for (size_t i = 0; i < ids.size(); ++i) {
                r.ids.emplace_back(s[i] ? s[i] : L"<null>");
                CoTaskMemFree(s[i]);
            }
            r.errors.assign(e, e + ids.size());
        }
        CoTaskMemFree(s);
        CoTaskMemFree(e);
        return r;
    }
    IOPCItemProperties* props = nullptr;
};

TEST_F(ItemProperties, SevenPropertiesWithTheTagsOwnIdLast) {
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    ASSERT_EQ(props->QueryAvailableProperties(const_cast<LPWSTR>(L"Pump1"), &count, &ids, &descriptions, &types), S_OK);
    ASSERT_EQ(count, 7u);
    const std::vector<DWORD> wantIds = {1, 2, 3, 4, 5, 6, 6003};
    const std::vector<VARTYPE> wantTypes = {VT_I2, VT_VARIANT, VT_I2, VT_DATE, VT_I4, VT_R4, VT_UI2};
    const std::vector<std::wstring> wantText = {L"Item Canonical Data Type", L"Item Value", L"Item Quality",
                                                L"Item Timestamp", L"Item Access Rights", L"Server Scan Rate", L"Pump1"};
    for (DWORD i = 0; i < count; ++i) {
        EXPECT_EQ(ids[i], wantIds[i]);
        EXPECT_EQ(types[i], wantTypes[i]);
        EXPECT_EQ(std::wstring(descriptions[i]), wantText[i]);
        CoTaskMemFree(descriptions[i]);
    }
    CoTaskMemFree(ids);
    CoTaskMemFree(descriptions);
    CoTaskMemFree(types);
}

TEST_F(ItemProperties, ValuesOfTheStandardProperties) {
    TValues r = Get(L"Pump1", {1, 3, 5, 6});
    EXPECT_EQ(r.hr, S_OK);
    ASSERT_EQ(r.values.size(), 4u);
    EXPECT_EQ(r.errors, std::vector<HRESULT>(4, S_OK));
    EXPECT_EQ(V_VT(&r.values[0]), VT_I2);
    EXPECT_EQ(V_I2(&r.values[0]), 18);
    EXPECT_EQ(V_VT(&r.values[1]), VT_I2);
    EXPECT_EQ(V_I2(&r.values[1]), 192);
    EXPECT_EQ(V_VT(&r.values[2]), VT_I4);
    EXPECT_EQ(V_I4(&r.values[2]), 3);
    EXPECT_EQ(V_VT(&r.values[3]), VT_R4);
    EXPECT_EQ(V_R4(&r.values[3]), 6.0f);

    // The quality is the data point's: how the device side last obtained the value.
    for (const uint16_t q : {kQualityCommFailure, kQualityConfigError, kQualityLocalOverride, kQualityNotConnected}) {
        DataPoints[3].Store(1234, q);
        r = Get(L"Pump1", {3});
        EXPECT_EQ(V_I2(&r.values[0]), q);
    }
    DataPoints[3].Store(1234, kQualityGood);

    r = Get(L"Pump1", {2, 7, 4});
    EXPECT_EQ(r.hr, S_FALSE);
    ASSERT_EQ(r.values.size(), 3u);
    EXPECT_EQ(V_VT(&r.values[0]), VT_UI2);
    EXPECT_EQ(V_UI2(&r.values[0]), 1234);
    EXPECT_EQ(V_VT(&r.values[1]), VT_EMPTY);
    EXPECT_EQ(r.errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALID_PID, S_OK}));
    EXPECT_EQ(V_VT(&r.values[2]), VT_DATE);
    EXPECT_NEAR(V_DATE(&r.values[2]), NowLocalDateTime(), 1.0 / 24 / 60);  // now, within a minute
}

TEST_F(ItemProperties, ValueOfAnotherTagById) {
    TValues r = Get(L"Pump1", {6000, 6004, 6999});  // Tank; then ids that name no tag
    EXPECT_EQ(r.hr, S_FALSE);
    ASSERT_EQ(r.values.size(), 3u);
    EXPECT_EQ(V_VT(&r.values[0]), VT_UI2);
    EXPECT_EQ(V_UI2(&r.values[0]), 77);
    EXPECT_EQ(r.errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALID_PID, OPC_E_INVALID_PID}));
}

TEST_F(ItemProperties, LookupTranslatesOnlyTheTagsOwnId) {
    TLookup r = Lookup(L"Pump1", {1, 6003});
    EXPECT_EQ(r.hr, S_FALSE);
    EXPECT_EQ(r.ids, (std::vector<std::wstring>{L"", L"Pump1"}));
    EXPECT_EQ(r.errors, (std::vector<HRESULT>{OPC_E_INVALID_PID, S_OK}));
    r = Lookup(L"Pump1", {6003});
    EXPECT_EQ(r.hr, S_OK);
    r = Lookup(L"Pump1", {6000});  // another tag's id is not a lookup of this one
    EXPECT_EQ(r.errors, std::vector<HRESULT>{OPC_E_INVALID_PID});
}

TEST_F(ItemProperties, NamesAreCaseSensitiveAndChecksComeFirst) {
    DWORD count = 9, id = 1;
    DWORD* ids = nullptr;
    LPWSTR* d = nullptr;
    VARTYPE* t = nullptr;
    VARIANT* v = nullptr;
    HRESULT* e = nullptr;
    LPWSTR* s = nullptr;
    for (const wchar_t* bad : {L"pump1", L"", L"Pump1 "}) {
        LPWSTR item = const_cast<LPWSTR>(bad);
        EXPECT_EQ(props->QueryAvailableProperties(item, &count, &ids, &d, &t), OPC_E_INVALIDITEMID);
        EXPECT_EQ(props->GetItemProperties(item, 1, &id, &v, &e), OPC_E_INVALIDITEMID);
        EXPECT_EQ(props->LookupItemIDs(item, 1, &id, &s, &e), OPC_E_INVALIDITEMID);
    }
    EXPECT_EQ(props->QueryAvailableProperties(nullptr, &count, &ids, &d, &t), OPC_E_INVALIDITEMID);
    EXPECT_EQ(props->GetItemProperties(const_cast<LPWSTR>(L"Pump1"), 0, &id, &v, &e), E_INVALIDARG);
    EXPECT_EQ(props->LookupItemIDs(const_cast<LPWSTR>(L"nope"), 0, &id, &s, &e), E_INVALIDARG);
    EXPECT_EQ(props->GetItemProperties(const_cast<LPWSTR>(L"Pump1"), 1, &id, nullptr, &e), E_INVALIDARG);
    EXPECT_EQ(v, nullptr);
    EXPECT_EQ(s, nullptr);
}

// A failed call leaves every [out] pointer it was given NULL, whatever it failed on: a client frees
// only what a successful call gave it, so anything else there would be freed as garbage or leak.
TEST_F(ItemProperties, EveryFailureLeavesTheOutputPointersNull) {
    struct TRow {
        const wchar_t* item;
        DWORD count;  // the id array below holds one entry
        bool allOutputs;
        HRESULT hr;
    };
    DWORD id = 1;
    for (const TRow& row : {TRow{L"nope", 1, true, OPC_E_INVALIDITEMID}, TRow{L"", 1, true, OPC_E_INVALIDITEMID},
                            TRow{L"Pump1", 0, true, E_INVALIDARG}, TRow{L"Pump1", 1, false, E_INVALIDARG},
                            // A count that no client's array holds is refused before the array is read.
                            TRow{L"Pump1", 0xFFFFFFFF, true, E_OUTOFMEMORY}}) {
        const auto poisoned = [](auto*& p) { p = reinterpret_cast<std::remove_reference_t<decltype(p)>>(0xBADF00Du); };
        auto* item = const_cast<LPWSTR>(row.item);
        DWORD n = 9;
        DWORD* ids;
        LPWSTR* descriptions;
        VARTYPE* types;
        poisoned(ids), poisoned(descriptions), poisoned(types);
        const HRESULT q = props->QueryAvailableProperties(item, row.allOutputs ? &n : nullptr, &ids, &descriptions, &types);
        if (row.count == 1) {
            EXPECT_EQ(q, row.hr) << "QueryAvailableProperties";
            EXPECT_EQ(ids, nullptr);
            EXPECT_EQ(descriptions, nullptr);
            EXPECT_EQ(types, nullptr);
        }
        VARIANT* values;
        HRESULT* errors;
        poisoned(values), poisoned(errors);
        EXPECT_EQ(props->GetItemProperties(item, row.count, &id, row.allOutputs ? &values : nullptr, &errors), row.hr)
            << "GetItemProperties " << row.count;
        EXPECT_EQ(errors, nullptr);
        if (row.allOutputs) {
            EXPECT_EQ(values, nullptr);
        }
        LPWSTR* names;
        poisoned(names), poisoned(errors);
        EXPECT_EQ(props->LookupItemIDs(item, row.count, &id, &names, row.allOutputs ? &errors : nullptr), row.hr)
            << "LookupItemIDs " << row.count;
        EXPECT_EQ(names, nullptr);
        if (row.allOutputs) {
            EXPECT_EQ(errors, nullptr);
        }
    }
    IOPCCommon* common = nullptr;
    ASSERT_EQ(props->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(&common)), S_OK);
    LCID* locales = reinterpret_cast<LCID*>(0xBADF00Du);
    EXPECT_EQ(common->QueryAvailableLocaleIDs(nullptr, &locales), E_INVALIDARG);
    EXPECT_EQ(locales, nullptr);
    common->Release();
}

TEST_F(ItemProperties, ValueAfterTheDataPointsAreReleasedIsNotAvailable) {
    FreeDataPoints();  // the close's last step; a client call may still arrive
    TValues r = Get(L"Pump1", {2, 6000, 1});
    EXPECT_EQ(r.hr, S_FALSE);
    EXPECT_EQ(r.errors, (std::vector<HRESULT>{OPC_E_INVALID_PID, OPC_E_INVALID_PID, S_OK}));
}

TEST_F(ItemProperties, TagsFrom7000OnHaveNoValueById) {
    std::vector<std::string> names;
    for (int i = 0; i < 1002; ++i) names.push_back("T" + std::to_string(i));
    BuildTags(names);
    DataPoints[1000].Store(5, kQualityGood);
    DataPoints[999].Store(9, kQualityGood);
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* d = nullptr;
    VARTYPE* t = nullptr;
    ASSERT_EQ(props->QueryAvailableProperties(const_cast<LPWSTR>(L"T1000"), &count, &ids, &d, &t), S_OK);
    ASSERT_EQ(count, 7u);
    EXPECT_EQ(ids[6], 7000u);
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(d[i]);
    CoTaskMemFree(ids);
    CoTaskMemFree(d);
    CoTaskMemFree(t);

    EXPECT_EQ(Lookup(L"T1000", {7000}).ids, std::vector<std::wstring>{L"T1000"});
    TValues r = Get(L"T1000", {7000, 6999, 2});
    EXPECT_EQ(r.errors, (std::vector<HRESULT>{OPC_E_INVALID_PID, S_OK, S_OK}));
    EXPECT_EQ(V_UI2(&r.values[1]), 9);
    EXPECT_EQ(V_UI2(&r.values[2]), 5);
}

TEST_F(ItemProperties, CommonInterfaceStoresLocaleAndName) {
    IOPCCommon* common = nullptr;
    ASSERT_EQ(props->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(&common)), S_OK);
    LCID lcid = 0;
    EXPECT_EQ(common->GetLocaleID(&lcid), S_OK);
    EXPECT_EQ(lcid, 2048u);
    EXPECT_EQ(common->SetLocaleID(1033), E_INVALIDARG);
    EXPECT_EQ(common->GetLocaleID(&lcid), S_OK);
    EXPECT_EQ(lcid, 2048u);
    EXPECT_EQ(common->SetLocaleID(1024), S_OK);
    EXPECT_EQ(common->GetLocaleID(&lcid), S_OK);
    EXPECT_EQ(lcid, 1024u);

    DWORD n = 0;
    LCID* all = nullptr;
    ASSERT_EQ(common->QueryAvailableLocaleIDs(&n, &all), S_OK);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(all[0], 2048u);
    EXPECT_EQ(all[1], 1024u);
    CoTaskMemFree(all);

    LPWSTR text = nullptr;
    EXPECT_EQ(common->GetErrorString(OPC_E_INVALIDFILTER, &text), S_OK);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, L"The filter string was not valid.");
    CoTaskMemFree(text);

    EXPECT_EQ(common->SetClientName(nullptr), E_INVALIDARG);
    EXPECT_EQ(common->SetClientName(L"Historian \u00e9"), S_OK);

    // One object: every interface reaches every other and IUnknown is the same.
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    IOPCServer* opc = nullptr;
    ASSERT_EQ(common->QueryInterface(IID_IOPCServer, reinterpret_cast<void**>(&opc)), S_OK);
    common->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
    props->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
    EXPECT_EQ(a, b);
    EXPECT_EQ(static_cast<TDA2*>(opc)->Common().ClientName(), "Historian \xc3\xa9");
    a->Release();
    b->Release();
    opc->Release();
    common->Release();
}

}  // namespace
}  // namespace tw::opc
