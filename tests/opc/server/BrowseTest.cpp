// IOPCBrowseServerAddressSpace of an in-process server object: filters and the pattern rules.
#include <gtest/gtest.h>

#include "TagFixture.h"
#include "opc/OpcError.h"

namespace tw::opc {
namespace {

using test::BuildTags;
using TNames = std::vector<std::wstring>;

class Browse : public test::TagServer {
protected:
    void SetUp() override {
        BuildTags({"Pump1", "pump2", "Valve", "PT-100", "Motor?", "alpha"});
        browse = NewServer<IOPCBrowseServerAddressSpace>(IID_IOPCBrowseServerAddressSpace);
        ASSERT_NE(browse, nullptr);
    }
    TNames List(const wchar_t* filter, HRESULT* hr, DWORD access = 0, VARTYPE type = VT_EMPTY) {
        IEnumString* e = nullptr;
        *hr = browse->BrowseOPCItemIDs(OPC_FLAT, filter, type, access, &e);
        TNames names;
        if (!e) return names;
        LPOLESTR s = nullptr;
        ULONG n = 0;
        while (e->Next(1, &s, &n) == S_OK) {
            names.emplace_back(s);
            CoTaskMemFree(s);
        }
        e->Release();
        return names;
    }
    TNames List(const wchar_t* filter) {
        HRESULT hr;
        TNames names = List(filter, &hr);
        EXPECT_EQ(hr, names.empty() ? S_FALSE : S_OK) << "filter " << std::string(filter, filter + wcslen(filter));
        return names;
    }
    IOPCBrowseServerAddressSpace* browse = nullptr;
};

const TNames kAll = {L"Pump1", L"pump2", L"Valve", L"PT-100", L"Motor?", L"alpha"};

TEST_F(Browse, AccessAndTypeFilters) {
    HRESULT hr;
    for (DWORD access : {0u, 2u, 3u}) {
        EXPECT_EQ(List(L"", &hr, access), kAll) << access;
        EXPECT_EQ(hr, S_OK);
    }
    EXPECT_EQ(List(L"", &hr, 1), TNames{});  // every tag is writable
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(List(L"", &hr, 4), TNames{});
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_EQ(List(L"", &hr, 0, VT_UI2), kAll);
    EXPECT_EQ(List(L"", &hr, 0, VT_R4), TNames{});
    EXPECT_EQ(hr, S_OK);  // no pattern: an empty list is no failure
    EXPECT_EQ(List(L"P*", &hr, 0, VT_R4), TNames{});
    EXPECT_EQ(hr, S_FALSE);
}

TEST_F(Browse, PatternsMatchWholeNamesRegardlessOfCase) {
    EXPECT_EQ(List(L"P*"), (TNames{L"Pump1", L"pump2", L"PT-100"}));
    EXPECT_EQ(List(L"p*"), (TNames{L"Pump1", L"pump2", L"PT-100"}));
    EXPECT_EQ(List(L"?UMP?"), (TNames{L"Pump1", L"pump2"}));
    EXPECT_EQ(List(L"Pump"), TNames{});
    EXPECT_EQ(List(L"*1"), TNames{L"Pump1"});
    EXPECT_EQ(List(L"*0*"), TNames{L"PT-100"});
    EXPECT_EQ(List(L"[pv]*"), (TNames{L"Pump1", L"pump2", L"Valve", L"PT-100"}));
    EXPECT_EQ(List(L"[!p]*"), (TNames{L"Valve", L"Motor?", L"alpha"}));
    EXPECT_EQ(List(L"[A-M]*"), (TNames{L"Motor?", L"alpha"}));
    EXPECT_EQ(List(L"*[0-9]"), (TNames{L"Pump1", L"pump2", L"PT-100"}));
    EXPECT_EQ(List(L"*[!0-9?]"), (TNames{L"Valve", L"alpha"}));
    EXPECT_EQ(List(L"PT[-]*"), TNames{L"PT-100"});  // a lone "-" is the character itself
    EXPECT_EQ(List(L"Motor[?]"), TNames{L"Motor?"});
    EXPECT_EQ(List(L"Z*"), TNames{});
}

TEST_F(Browse, InvalidPatternsAreRefused) {
    HRESULT hr;
    const std::wstring stars30(30, L'*');
    EXPECT_EQ(List(stars30.c_str(), &hr), kAll);
    EXPECT_EQ(hr, S_OK);
    for (const std::wstring& bad : {std::wstring(31, L'*'), std::wstring(L"P*[abc"), std::wstring(L"[]x"),
                                    std::wstring(L"[!]x"), std::wstring(L"[-z]*"), std::wstring(L"*[")}) {
        IEnumString* e = reinterpret_cast<IEnumString*>(1);
        EXPECT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, bad.c_str(), VT_EMPTY, 0, &e), OPC_E_INVALIDFILTER)
            << std::string(bad.begin(), bad.end());
        EXPECT_EQ(e, nullptr);
    }
    // Many stars against a long name that almost matches: answered, not stuck in backtracking.
    BuildTags({std::string(200, 'a')});
    EXPECT_EQ(List(L"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"), TNames{});
}

TEST_F(Browse, EmptyTableAndTheOtherCalls) {
    BuildTags({});
    HRESULT hr;
    EXPECT_EQ(List(L"", &hr), TNames{});
    EXPECT_EQ(hr, S_OK);
    BuildTags({"Pump1"});

    OPCNAMESPACETYPE ns = OPC_NS_HIERARCHIAL;
    EXPECT_EQ(browse->QueryOrganization(&ns), S_OK);
    EXPECT_EQ(ns, OPC_NS_FLAT);
    EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"Pump1"), E_FAIL);
    IEnumString* e = reinterpret_cast<IEnumString*>(1);
    EXPECT_EQ(browse->BrowseAccessPaths(L"Pump1", &e), E_NOTIMPL);
    EXPECT_EQ(e, nullptr);

    LPWSTR id = nullptr;
    EXPECT_EQ(browse->GetItemID(const_cast<LPWSTR>(L"Pump1"), &id), S_OK);
    ASSERT_NE(id, nullptr);
    EXPECT_STREQ(id, L"Pump1");
    CoTaskMemFree(id);
    EXPECT_EQ(browse->GetItemID(const_cast<LPWSTR>(L""), &id), S_OK);
    ASSERT_NE(id, nullptr);
    EXPECT_STREQ(id, L"");
    CoTaskMemFree(id);
    EXPECT_EQ(browse->GetItemID(const_cast<LPWSTR>(L"pump1"), &id), E_INVALIDARG);
    EXPECT_EQ(id, nullptr);
}

}  // namespace
}  // namespace tw::opc
