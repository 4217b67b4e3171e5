#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "FakeDataSink.h"
#include "GroupFixture.h"
#include "opc/Guids.h"
#include "opc/OpcError.h"

namespace tw::opc::test {
namespace {

using ItemMgt = GroupFixture;

TEST_F(ItemMgt, AddItemsReportsEachBadEntryAndAddsTheValidOnes) {
    const TAddResult r = Add(group, {{L"T1"}, {L""}, {L"t1"}, {L"T2", VT_ARRAY | VT_I4}, {L"T2", VT_R8}, {L"T1"}});
    EXPECT_EQ(r.hr, S_FALSE);
    EXPECT_EQ(r.errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNITEMID, OPC_E_BADTYPE, S_OK,
                                              S_OK}));
    ASSERT_EQ(group->Items().Count(), 3u);  // the same tag twice makes two items
    EXPECT_EQ(r.results[0].vtCanonicalDataType, VT_UI2);
    EXPECT_EQ(r.results[0].dwAccessRights, static_cast<DWORD>(OPC_READABLE | OPC_WRITEABLE));
    EXPECT_EQ(r.results[4].hServer, r.results[0].hServer + 1);
    EXPECT_EQ(r.results[5].hServer, r.results[0].hServer + 2);
    EXPECT_EQ(r.results[1].hServer, 0u);  // failed entries stay zero
    EXPECT_EQ(group->Items()[1].RequestedType, VT_R8);
    EXPECT_EQ(group->Items()[0].RequestedType, VT_UI2);  // VT_EMPTY asks for the canonical type
    EXPECT_EQ(group->Items()[2].ClientHandle, 105u);

    // Handles come from one counter for every group of every server object.
    TOPCGroup* other = NewGroup(L"other");
    EXPECT_EQ(AddHandles(other, {{L"C1"}}), std::vector<OPCHANDLE>{r.results[5].hServer + 1});

    OPCITEMRESULT* results = reinterpret_cast<OPCITEMRESULT*>(1);
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    OPCITEMDEF def{};
    EXPECT_EQ(group->AddItems(0, &def, &results, &errors), E_INVALIDARG);
    EXPECT_EQ(results, nullptr);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(Add(group, {{L"T1"}}).hr, S_OK);
}

TEST_F(ItemMgt, ValidateItemsTestsTheTypeBeforeTheNameAndCreatesNothing) {
    OPCITEMDEF defs[4] = {};
    defs[0].szItemID = const_cast<LPWSTR>(L"nosuch");
    defs[1].szItemID = const_cast<LPWSTR>(L"nosuch");
    defs[1].vtRequestedDataType = VT_BYREF | VT_I4;
    defs[2].szItemID = const_cast<LPWSTR>(L"T2");
    defs[3].szItemID = nullptr;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(group->ValidateItems(4, defs, TRUE, &results, &errors), S_FALSE);
    EXPECT_EQ(Errors(errors, 4),
              (std::vector<HRESULT>{OPC_E_INVALIDITEMID, OPC_E_BADTYPE, S_OK, OPC_E_INVALIDITEMID}));
    ASSERT_NE(results, nullptr);
    EXPECT_EQ(results[2].hServer, 0u);
    EXPECT_EQ(results[2].vtCanonicalDataType, VT_UI2);
    EXPECT_EQ(results[2].dwAccessRights, 3u);
    CoTaskMemFree(results);
    EXPECT_TRUE(group->Items().Empty());
}

TEST_F(ItemMgt, RemoveItemsKeepsTheOtherHandlesAndMovesThemUp) {
    const auto h = AddHandles(group, {{L"T1"}, {L"T2"}, {L"C1"}});
    ASSERT_EQ(h.size(), 3u);
    OPCHANDLE remove[3] = {h[0], h[0], 999999};
    HRESULT* errors = nullptr;
    EXPECT_EQ(group->RemoveItems(3, remove, &errors), S_FALSE);
    EXPECT_EQ(Errors(errors, 3), (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE}));
    ASSERT_EQ(group->Items().Count(), 2u);
    EXPECT_EQ(group->Items()[0].ServerHandle, h[1]);
    EXPECT_EQ(group->Items()[1].ServerHandle, h[2]);
    EXPECT_EQ(group->Items().Find(h[2])->Position, 1u);

    OPCHANDLE rest[2] = {h[2], h[1]};
    EXPECT_EQ(group->RemoveItems(2, rest, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_TRUE(group->Items().Empty());
}

TEST_F(ItemMgt, SettersReportBadHandlesAndBadTypesPerEntry) {
    const auto h = AddHandles(group, {{L"T1"}, {L"T2"}});
    OPCHANDLE handles[3] = {h[0], 4242, h[1]};
    HRESULT* errors = nullptr;

    EXPECT_EQ(group->SetActiveState(3, handles, FALSE, &errors), S_FALSE);
    EXPECT_EQ(Errors(errors, 3), (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, S_OK}));
    EXPECT_FALSE(group->Items()[0].Active);

    VARTYPE types[3] = {VT_BSTR, VT_I2, VT_ARRAY | VT_UI1};
    EXPECT_EQ(group->SetDatatypes(3, handles, types, &errors), S_FALSE);
    EXPECT_EQ(Errors(errors, 3), (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, OPC_E_BADTYPE}));
    EXPECT_EQ(group->Items()[0].RequestedType, VT_BSTR);
    EXPECT_EQ(group->Items()[1].RequestedType, VT_UI2);
}

// Next(celt) as the item IDs it filled; the array is freed.
std::vector<std::wstring> NextIds(IEnumOPCItemAttributes* e, ULONG celt, HRESULT* hr, OPCITEMATTRIBUTES* first) {
    OPCITEMATTRIBUTES* a = nullptr;
    ULONG fetched = 99;
    *hr = e->Next(celt, &a, &fetched);
    std::vector<std::wstring> ids;
    for (ULONG i = 0; i < fetched; ++i) {
        ids.emplace_back(a[i].szItemID);
        if (i == 0 && first) *first = a[0];
        CoTaskMemFree(a[i].szItemID);
        CoTaskMemFree(a[i].szAccessPath);
    }
    CoTaskMemFree(a);
    return ids;
}

TEST_F(ItemMgt, EnumeratorWalksASnapshotOfTheAttributes) {
    IUnknown* u = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(group->CreateEnumerator(IID_IEnumOPCItemAttributes, &u), S_FALSE);  // no items
    EXPECT_EQ(u, nullptr);
    const auto h = AddHandles(group, {{L"T1", VT_R4, FALSE}, {L"T2"}, {L"C1"}});
    EXPECT_EQ(group->CreateEnumerator(IID_IUnknown, &u), E_INVALIDARG);
    EXPECT_EQ(group->CreateEnumerator(CLSID_OPCEnumerators, &u), E_INVALIDARG);  // names no interface
    EXPECT_EQ(u, nullptr);
    ASSERT_EQ(group->CreateEnumerator(IID_IEnumOPCItemAttributes, &u), S_OK);
    auto* e = static_cast<IEnumOPCItemAttributes*>(u);
    OPCHANDLE first[1] = {h[0]};
    HRESULT* errors = nullptr;
    ASSERT_EQ(group->RemoveItems(1, first, &errors), S_OK);  // not seen by the enumerator
    CoTaskMemFree(errors);

    HRESULT hr;
    OPCITEMATTRIBUTES a{};
    EXPECT_TRUE(NextIds(e, 0, &hr, nullptr).empty());
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(NextIds(e, 2, &hr, &a), (std::vector<std::wstring>{L"T1", L"T2"}));
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(std::tie(a.bActive, a.hServer, a.hClient, a.vtRequestedDataType, a.vtCanonicalDataType,
                       a.dwAccessRights, a.vEUInfo.vt),
              std::make_tuple(FALSE, h[0], 100ul, VARTYPE(VT_R4), VARTYPE(VT_UI2), 3ul, VARTYPE(VT_I4)));
    IEnumOPCItemAttributes* clone = nullptr;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    EXPECT_EQ(NextIds(e, 2, &hr, nullptr), std::vector<std::wstring>{L"C1"});
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_TRUE(NextIds(e, 1, &hr, nullptr).empty());
    EXPECT_EQ(hr, S_FALSE);

    EXPECT_EQ(NextIds(clone, 1, &hr, nullptr), std::vector<std::wstring>{L"T1"});  // from the first record
    EXPECT_EQ(clone->Skip(2), S_OK);
    EXPECT_EQ(clone->Skip(1), S_FALSE);
    clone->Release();
    e->Release();
}

// A count of 0xFFFFFFFF comes with an array of one entry from a broken client: every call that hands
// out an array per entry refuses it at once, as a failed allocation, before it reads the array,
// and leaves its outputs NULL. (A server that tried would zero-fill gigabytes: Wine grants them.)
TEST_F(ItemMgt, CountsNoArrayHoldsAreRefusedBeforeTheArrayIsRead) {
    const auto h = AddHandles(group, {{L"T1"}});
    TFakeDataSink sink;
    IConnectionPoint* cp = nullptr;
    DWORD cookie = 0;
    ASSERT_EQ(group->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
    ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
    constexpr DWORD kHuge = 0xFFFFFFFF;
    OPCHANDLE handle = h[0];
    OPCITEMDEF def{};
    def.szItemID = const_cast<LPWSTR>(L"T1");
    VARIANT value;
    VariantInit(&value);
    VARTYPE type = VT_I4;
    DWORD cancel = 0;
    auto* io = As<IOPCSyncIO>(group, IID_IOPCSyncIO);
    auto* async = As<IOPCAsyncIO2>(group, IID_IOPCAsyncIO2);
    using TCall = std::function<HRESULT(HRESULT** errors, void** results)>;
    const std::pair<const char*, TCall> calls[] = {
        {"AddItems", [&](HRESULT** e, void** r) { return group->AddItems(kHuge, &def, reinterpret_cast<OPCITEMRESULT**>(r), e); }},
        {"ValidateItems",
         [&](HRESULT** e, void** r) {
             return group->ValidateItems(kHuge, &def, FALSE, reinterpret_cast<OPCITEMRESULT**>(r), e);
         }},
        {"RemoveItems", [&](HRESULT** e, void**) { return group->RemoveItems(kHuge, &handle, e); }},
        {"SetActiveState", [&](HRESULT** e, void**) { return group->SetActiveState(kHuge, &handle, TRUE, e); }},
        {"SetClientHandles", [&](HRESULT** e, void**) { return group->SetClientHandles(kHuge, &handle, &handle, e); }},
        {"SetDatatypes", [&](HRESULT** e, void**) { return group->SetDatatypes(kHuge, &handle, &type, e); }},
        {"sync Read",
         [&](HRESULT** e, void** r) {
             return io->Read(OPC_DS_DEVICE, kHuge, &handle, reinterpret_cast<OPCITEMSTATE**>(r), e);
         }},
        {"sync Write", [&](HRESULT** e, void**) { return io->Write(kHuge, &handle, &value, e); }},
        {"async Read", [&](HRESULT** e, void**) { return async->Read(kHuge, &handle, 1, &cancel, e); }},
        {"async Write", [&](HRESULT** e, void**) { return async->Write(kHuge, &handle, &value, 1, &cancel, e); }},
    };
    for (const auto& [name, call] : calls) {
        auto* errors = reinterpret_cast<HRESULT*>(0xBADF00Du);
        void* results = reinterpret_cast<void*>(0xBADF00Du);
        EXPECT_EQ(call(&errors, &results), E_OUTOFMEMORY) << name;
        EXPECT_EQ(errors, nullptr) << name;
        if (results != reinterpret_cast<void*>(0xBADF00Du)) {
            EXPECT_EQ(results, nullptr) << name;
        }
    }
    EXPECT_EQ(group->Items().Count(), 1u);
    EXPECT_EQ(group->PendingCount(), 0u);

    // An enumerator hands out what it has left, not an array of celt records.
    IUnknown* u = nullptr;
    ASSERT_EQ(group->CreateEnumerator(IID_IEnumOPCItemAttributes, &u), S_OK);
    auto* e = static_cast<IEnumOPCItemAttributes*>(u);
    OPCITEMATTRIBUTES* records = reinterpret_cast<OPCITEMATTRIBUTES*>(0xBADF00Du);
    ULONG fetched = 9;
    EXPECT_EQ(e->Next(0, &records, &fetched), S_FALSE);
    EXPECT_EQ(records, nullptr);
    EXPECT_EQ(fetched, 0u);
    HRESULT hr;
    EXPECT_EQ(NextIds(e, kHuge, &hr, nullptr), std::vector<std::wstring>{L"T1"});
    EXPECT_EQ(hr, S_FALSE);
    e->Release();
    cp->Unadvise(cookie);
    cp->Release();
}

}  // namespace
}  // namespace tw::opc::test
