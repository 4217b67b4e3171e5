#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "opc/ComText.h"
#include "opc/OpcError.h"
#include "opc/ValueConvert.h"
#include "opc/server/ServIMPL.h"
#include "opc/server/ServerSlots.h"

namespace tw::opc {
namespace {

long long Ticks(const FILETIME& ft) {
    return static_cast<long long>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

const IID IID_IOPCServerPublicGroups = {0x39C13A4E, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};

class TCountingLifetime : public IServerLifetime {
public:
    void ObjectCreated() override { ++created; }
    void ObjectDestroyed() override { ++destroyed; }
    int created = 0, destroyed = 0;
};

struct TAdded {
    HRESULT hr;
    OPCHANDLE handle;
    DWORD revised;
    IUnknown* group;
};

class Server : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TDA2::Create(IID_IOPCServer, reinterpret_cast<void**>(&server), &lifetime), S_OK);
        da2 = static_cast<TDA2*>(server);
    }
    void TearDown() override {
        for (IUnknown* g : groups) g->Release();
        if (server) {
            EXPECT_EQ(server->Release(), 0u);
        }
        EXPECT_EQ(lifetime.created, lifetime.destroyed);
        EXPECT_EQ(CountServerObjects(), 0);
    }
    TAdded Add(const wchar_t* name, DWORD rate = 500, FLOAT* deadband = nullptr) {
        TAdded a{E_FAIL, 77, 77, nullptr};
        LONG bias = 60;
        a.hr = server->AddGroup(name, TRUE, rate, 9, &bias, deadband, 0x409, &a.handle, &a.revised, IID_IUnknown,
                                &a.group);
        if (a.group) groups.push_back(a.group);
        return a;
    }
    void Drop(IUnknown* group) {
        for (auto it = groups.begin(); it != groups.end(); ++it)
            if (*it == group) {
                groups.erase(it);
                break;
            }
        group->Release();
    }
    std::vector<std::wstring> Names(OPCENUMSCOPE scope, HRESULT* hr) {
        IUnknown* u = nullptr;
        *hr = server->CreateGroupEnumerator(scope, IID_IEnumString, &u);
        std::vector<std::wstring> names;
        if (!u) return names;
        auto* e = static_cast<IEnumString*>(u);
        LPOLESTR s = nullptr;
        ULONG n = 0;
        while (e->Next(1, &s, &n) == S_OK) {
            names.emplace_back(s);
            CoTaskMemFree(s);
        }
        e->Release();
        return names;
    }

    TCountingLifetime lifetime;
    IOPCServer* server = nullptr;
    TDA2* da2 = nullptr;
    std::vector<IUnknown*> groups;
};

TEST_F(Server, StatusRightAfterConnection) {
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    OPCSERVERSTATUS* st = nullptr;
    ASSERT_EQ(server->GetStatus(&st), S_OK);
    EXPECT_EQ(st->dwGroupCount, 0u);
    EXPECT_EQ(st->dwServerState, OPC_STATUS_RUNNING);
    EXPECT_EQ(st->dwBandWidth, 100u);
    EXPECT_EQ(st->wMajorVersion, 1);
    EXPECT_EQ(st->wMinorVersion, 2);
    EXPECT_EQ(st->wBuildNumber, 5);
    EXPECT_STREQ(st->szVendorInfo, kVendorInfo);
    EXPECT_LT(std::llabs(Ticks(st->ftStartTime) - Ticks(before)), 20000000LL);
    EXPECT_EQ(Ticks(st->ftLastUpdateTime), Ticks(LocalDateTimeToFileTime(0.0)));  // never updated
    CoTaskMemFree(st->szVendorInfo);
    CoTaskMemFree(st);
    EXPECT_EQ(server->GetStatus(nullptr), E_INVALIDARG);
}

TEST_F(Server, AddGroupHandlesRatesAndCounts) {
    const TAdded a = Add(L"A", 0);
    EXPECT_EQ(a.hr, OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(a.revised, 1000u);
    const TAdded b = Add(L"B", 1);
    EXPECT_EQ(b.hr, S_OK);
    EXPECT_EQ(b.revised, 1u);
    EXPECT_GE(a.handle, 2u);
    EXPECT_EQ(b.handle, a.handle + 1);

    // A second client draws from the same counter.
    IOPCServer* other = nullptr;
    ASSERT_EQ(TDA2::Create(IID_IOPCServer, reinterpret_cast<void**>(&other)), S_OK);
    OPCHANDLE h = 0;
    DWORD revised = 0;
    IUnknown* g = nullptr;
    ASSERT_EQ(other->AddGroup(L"A", FALSE, 100, 0, nullptr, nullptr, 0, &h, &revised, IID_IUnknown, &g), S_OK);
    EXPECT_EQ(h, b.handle + 1);
    g->Release();
    other->Release();

    OPCSERVERSTATUS* st = nullptr;
    ASSERT_EQ(server->GetStatus(&st), S_OK);
    EXPECT_EQ(st->dwGroupCount, 2u);
    EXPECT_GT(Ticks(st->ftLastUpdateTime), Ticks(LocalDateTimeToFileTime(0.0)));  // set by the new group's state
    CoTaskMemFree(st->szVendorInfo);
    CoTaskMemFree(st);

    const TOPCGroup* group = da2->PrivateGroups()[0];
    EXPECT_EQ(group->Name(), "A");
    EXPECT_EQ(group->ClientHandle(), 9u);
    EXPECT_EQ(group->TimeBias(), 60);
    EXPECT_EQ(group->Lcid(), 0x409u);
}

TEST_F(Server, AddGroupNamesAreCaseSensitiveAndGeneratedWhenEmpty) {
    EXPECT_EQ(Add(L"Tank").hr, S_OK);
    EXPECT_EQ(Add(L"tank").hr, S_OK);
    const TAdded dup = Add(L"Tank");
    EXPECT_EQ(dup.hr, OPC_E_DUPLICATENAME);
    EXPECT_EQ(dup.handle, 0u);
    EXPECT_EQ(dup.group, nullptr);

    ASSERT_EQ(Add(L"").hr, S_OK);
    ASSERT_EQ(Add(nullptr).hr, S_OK);
    const std::string first = da2->PrivateGroups()[2]->Name(), second = da2->PrivateGroups()[3]->Name();
    EXPECT_NE(first, second);
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first.find_first_not_of("0123456789"), std::string::npos);

    // Non-ASCII names survive the round trip through the 8-bit name.
    EXPECT_EQ(Add(L"K\u00fchler \u6c34").hr, S_OK);
    EXPECT_EQ(Add(L"K\u00fchler \u6c35").hr, S_OK);
    HRESULT hr;
    const auto names = Names(OPC_ENUM_PRIVATE, &hr);
    EXPECT_EQ(names.back(), L"K\u00fchler \u6c35");
}

TEST_F(Server, AddGroupDeadbandBoundsAndMissingOutPointers) {
    FLOAT v = 100.0f;
    EXPECT_EQ(Add(L"hundred", 100, &v).hr, S_OK);
    v = 0.0f;
    EXPECT_EQ(Add(L"zero", 100, &v).hr, S_OK);
    for (FLOAT bad : {100.5f, -0.5f, std::numeric_limits<FLOAT>::quiet_NaN()}) {
        v = bad;
        const TAdded a = Add(L"bad", 100, &v);
        EXPECT_EQ(a.hr, E_INVALIDARG);
        EXPECT_EQ(a.group, nullptr);
    }
    EXPECT_EQ(da2->PrivateGroups().size(), 2u);
    EXPECT_EQ(da2->PrivateGroups()[1]->PercentDeadband(), 0.0f);

    OPCHANDLE h;
    DWORD r;
    IUnknown* g = nullptr;
    EXPECT_EQ(server->AddGroup(L"x", TRUE, 1, 0, nullptr, nullptr, 0, nullptr, &r, IID_IUnknown, &g), E_INVALIDARG);
    EXPECT_EQ(server->AddGroup(L"x", TRUE, 1, 0, nullptr, nullptr, 0, &h, nullptr, IID_IUnknown, &g), E_INVALIDARG);
    EXPECT_EQ(server->AddGroup(L"x", TRUE, 1, 0, nullptr, nullptr, 0, &h, &r, IID_IUnknown, nullptr), E_INVALIDARG);
    EXPECT_EQ(g, nullptr);
    EXPECT_EQ(da2->PrivateGroups().size(), 2u);

    // An interface the group does not have (one of a later OPC version, say) is refused before a
    // group is made: handed out across processes as that interface it could not be marshalled, and
    // would stay behind with nobody to release it. No handle is used up and no placeholder left.
    EXPECT_EQ(server->AddGroup(L"x", TRUE, 1, 0, nullptr, nullptr, 0, &h, &r, IID_IEnumString, &g), E_NOINTERFACE);
    EXPECT_EQ(g, nullptr);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(da2->PrivateGroups().size(), 2u);
    EXPECT_TRUE(da2->RemovedGroups().empty());
    const TAdded next = Add(L"x", 100);
    EXPECT_EQ(next.handle, da2->PrivateGroups()[1]->ServerHandle() + 1);
    ASSERT_EQ(server->AddGroup(L"y", TRUE, 1, 0, nullptr, nullptr, 0, &h, &r, IID_IOPCItemMgt, &g), S_OK);
    void* mgt = nullptr;
    EXPECT_EQ(g->QueryInterface(IID_IOPCItemMgt, &mgt), S_OK);
    EXPECT_EQ(mgt, g);  // handed out as the interface asked for
    static_cast<IUnknown*>(mgt)->Release();
    groups.push_back(g);
}

TEST_F(Server, RemoveGroupMarksThenThePlaceholderSucceedsOnce) {
    const TAdded a = Add(L"A");
    EXPECT_EQ(server->RemoveGroup(a.handle, FALSE), OPC_S_INUSE);
    EXPECT_EQ(server->RemoveGroup(a.handle, FALSE), E_INVALIDARG);
    // Still found by name until the client lets go.
    IUnknown* found = nullptr;
    ASSERT_EQ(server->GetGroupByName(L"A", IID_IUnknown, &found), S_OK);
    EXPECT_EQ(found, a.group);
    found->Release();

    Drop(a.group);
    EXPECT_TRUE(da2->PrivateGroups().empty());
    ASSERT_EQ(da2->RemovedGroups().size(), 1u);
    EXPECT_EQ(da2->RemovedGroups()[0].Name, "A");
    EXPECT_EQ(server->RemoveGroup(a.handle, FALSE), S_OK);
    EXPECT_EQ(server->RemoveGroup(a.handle, TRUE), E_INVALIDARG);

    // A group released without any RemoveGroup: the first RemoveGroup still succeeds once.
    const TAdded b = Add(L"B");
    Drop(b.group);
    EXPECT_EQ(server->RemoveGroup(b.handle, FALSE), S_OK);
    EXPECT_EQ(server->RemoveGroup(b.handle, FALSE), E_INVALIDARG);

    EXPECT_EQ(server->RemoveGroup(0, TRUE), E_INVALIDARG);
    EXPECT_EQ(server->RemoveGroup(999999, TRUE), E_INVALIDARG);
    const TAdded c = Add(L"C");
    EXPECT_EQ(server->RemoveGroup(c.handle, TRUE), S_OK);  // in-process references stay valid
    EXPECT_EQ(server->RemoveGroup(c.handle, TRUE), E_INVALIDARG);
}

TEST_F(Server, GetGroupByNameFailures) {
    Add(L"A");
    IUnknown* u = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(server->GetGroupByName(L"a", IID_IUnknown, &u), E_INVALIDARG);
    EXPECT_EQ(u, nullptr);
    EXPECT_EQ(server->GetGroupByName(L"A", IID_IUnknown, nullptr), E_INVALIDARG);
    EXPECT_EQ(server->GetGroupByName(L"A", IID_IOPCServer, &u), E_NOINTERFACE);
}

TEST_F(Server, GroupEnumeratorScopesAndSnapshot) {
    HRESULT hr;
    EXPECT_TRUE(Names(OPC_ENUM_PUBLIC, &hr).empty());
    EXPECT_EQ(hr, S_FALSE);
    Add(L"A");
    const TAdded b = Add(L"B");
    EXPECT_EQ(Names(OPC_ENUM_ALL, &hr), (std::vector<std::wstring>{L"A", L"B"}));
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(Names(OPC_ENUM_PRIVATE_CONNECTIONS, &hr).size(), 2u);
    EXPECT_EQ(Names(OPC_ENUM_PUBLIC_CONNECTIONS, &hr).size(), 0u);
    EXPECT_EQ(hr, S_FALSE);

    IUnknown* u = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(server->CreateGroupEnumerator(static_cast<OPCENUMSCOPE>(0), IID_IEnumString, &u), E_INVALIDARG);
    EXPECT_EQ(u, nullptr);
    EXPECT_EQ(server->CreateGroupEnumerator(static_cast<OPCENUMSCOPE>(7), IID_IEnumString, &u), E_INVALIDARG);
    EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IOPCServer, &u), E_NOINTERFACE);
    EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, nullptr), E_INVALIDARG);

    // The object enumerator keeps its groups alive after the client released them.
    ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown, &u), S_OK);
    Drop(b.group);
    EXPECT_EQ(da2->PrivateGroups().size(), 2u);
    u->Release();
    EXPECT_EQ(da2->PrivateGroups().size(), 1u);
}

TEST_F(Server, ClonedGroupGetsItsOwnHandleAndStartsInactive) {
    const TAdded a = Add(L"A", 250);
    const TOPCGroup& source = *da2->PrivateGroups()[0];
    IUnknown* clone = nullptr;
    ASSERT_EQ(da2->AddClonedGroup("A copy", source, &clone), S_OK);
    groups.push_back(clone);
    ASSERT_EQ(da2->PrivateGroups().size(), 2u);
    const TOPCGroup& copy = *da2->PrivateGroups()[1];
    EXPECT_EQ(copy.Name(), "A copy");
    EXPECT_EQ(copy.ServerHandle(), a.handle + 1);
    EXPECT_EQ(copy.Active(), FALSE);
    EXPECT_EQ(copy.UpdateRate(), 250u);
    EXPECT_EQ(copy.ClientHandle(), source.ClientHandle());
    EXPECT_TRUE(da2->GroupNameExists("A copy"));
    EXPECT_FALSE(da2->GroupNameExists("a copy"));
}

TEST(ServerLifetime, GroupOutlivesItsServerWithoutDanglingBack) {
    IOPCServer* server = nullptr;
    ASSERT_EQ(TDA2::Create(IID_IOPCServer, reinterpret_cast<void**>(&server)), S_OK);
    OPCHANDLE h;
    DWORD r;
    IUnknown* g = nullptr;
    ASSERT_EQ(server->AddGroup(L"A", TRUE, 1, 0, nullptr, nullptr, 0, &h, &r, IID_IUnknown, &g), S_OK);
    TOPCGroup* group = static_cast<TDA2*>(server)->PrivateGroups()[0];
    EXPECT_EQ(server->Release(), 0u);
    EXPECT_EQ(group->Server(), nullptr);
    EXPECT_EQ(g->Release(), 0u);  // its teardown must not reach the destroyed server
    EXPECT_EQ(CountServerObjects(), 0);
}

// Releases what it holds on every path, so that a failed check leaves no server behind for later tests.
struct TClients {
    ~TClients() {
        for (IUnknown* u : held)
            if (u) u->Release();
    }
    std::vector<IUnknown*> held;
};

TEST(ServerSlotsTable, ThirtySecondClientIsRefusedAndFreedSlotsAreReused) {
    TCountingLifetime lifetime;
    TClients clients;
    for (int i = 0; i < 31; ++i) {
        IUnknown* u = nullptr;
        EXPECT_EQ(TDA2::Create(IID_IUnknown, reinterpret_cast<void**>(&u), &lifetime), S_OK) << "client " << i + 1;
        clients.held.push_back(u);
    }
    IUnknown* extra = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(TDA2::Create(IID_IUnknown, reinterpret_cast<void**>(&extra), &lifetime), kNoFreeServerSlot);
    EXPECT_EQ(extra, nullptr);
    if (extra != reinterpret_cast<IUnknown*>(1)) clients.held.push_back(extra);  // a 32nd server, if one was made
    EXPECT_EQ(lifetime.created, 31);
    EXPECT_EQ(CountServerObjects(), 31);

    clients.held[5]->Release();
    clients.held[5] = nullptr;
    ASSERT_EQ(TDA2::Create(IID_IUnknown, reinterpret_cast<void**>(&clients.held[5]), &lifetime), S_OK);
    EXPECT_EQ(ServerSlots[5], static_cast<TDA2*>(static_cast<IOPCServer*>(clients.held[5])));

    // An unsupported interface leaves nothing behind.
    void* p = nullptr;
    clients.held[6]->Release();
    clients.held[6] = nullptr;
    EXPECT_EQ(TDA2::Create(IID_IOPCServerPublicGroups, &p, &lifetime), E_NOINTERFACE);
    EXPECT_EQ(ServerSlots[6], nullptr);

    for (IUnknown*& u : clients.held)
        if (u) {
            u->Release();
            u = nullptr;
        }
    EXPECT_EQ(CountServerObjects(), 0);
    EXPECT_EQ(lifetime.created, lifetime.destroyed);
}

TEST_F(Server, PulseStampsLastUpdateTimeOnEveryServer) {
    PulseServers(45000.25);
    EXPECT_EQ(da2->LastUpdateTime(), 45000.25);
}

TEST_F(Server, InterfacesAndTypeInformation) {
    void* p = nullptr;
    EXPECT_EQ(server->QueryInterface(IID_IOPCServerPublicGroups, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    IDA2* dual = nullptr;
    ASSERT_EQ(server->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dual)), S_OK);
    UINT count = 0;
    EXPECT_EQ(dual->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    LPOLESTR name = const_cast<LPOLESTR>(L"NoSuchMember");
    DISPID id = 0;
    EXPECT_EQ(dual->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(dual->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id), E_INVALIDARG);
    EXPECT_EQ(dual->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
    dual->Release();

    IProvideClassInfo* pci = nullptr;
    ASSERT_EQ(server->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&pci)), S_OK);
    ITypeInfo* ti = nullptr;
    ASSERT_EQ(pci->GetClassInfo(&ti), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(ti->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_DA2));
    ti->ReleaseTypeAttr(attr);
    ti->Release();
    pci->Release();

    LPWSTR text = nullptr;
    EXPECT_EQ(server->GetErrorString(OPC_E_DUPLICATENAME, 0x407, &text), S_OK);
    EXPECT_STREQ(text, L"Duplicate name not allowed.");
    CoTaskMemFree(text);
    EXPECT_EQ(server->GetErrorString(static_cast<HRESULT>(0xC0048004L), 0, &text), S_OK);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, L"");
    CoTaskMemFree(text);
    EXPECT_EQ(server->GetErrorString(S_OK, 0, nullptr), E_INVALIDARG);
}

// The OPC result codes and their texts as the OPC standard words them ("acknowleged" included),
// and a code that has no text anywhere.
const std::vector<std::pair<HRESULT, std::wstring>> kErrorTexts = {
    {0x0004000DL, L"The server does not support the requested data rate but will use the closest available rate."},
    {0x0004000EL, L"A value passed to WRITE was accepted but the output was clamped."},
    {0x0004000FL, L"The operation cannot be completed because the object still has references that exist."},
    {0x00040200L, L"The condition has already been acknowleged."},
    {0x00040201L, L"The buffer time parameter was invalid."},
    {0x00040202L, L"The max size parameter was invalid."},
    {static_cast<HRESULT>(0xC0040001L), L"The value of the handle is invalid."},
    {static_cast<HRESULT>(0xC0040004L),
     L"The server cannot convert the data between the requested data type and the canonical data type."},
    {static_cast<HRESULT>(0xC0040005L), L"The requested operation cannot be done on a public group."},
    {static_cast<HRESULT>(0xC0040006L), L"The Items AccessRights do not allow the operation."},
    {static_cast<HRESULT>(0xC0040007L), L"The item is no longer available in the server address space."},
    {static_cast<HRESULT>(0xC0040008L), L"The item definition does not conform to the server's syntax."},
    {static_cast<HRESULT>(0xC0040009L), L"The filter string was not valid."},
    {static_cast<HRESULT>(0xC004000AL), L"The item's access path is not known to the server."},
    {static_cast<HRESULT>(0xC004000BL), L"The value was out of range."},
    {static_cast<HRESULT>(0xC004000CL), L"Duplicate name not allowed."},
    {static_cast<HRESULT>(0xC0040010L), L"The server's configuration file is an invalid format."},
    {static_cast<HRESULT>(0xC0040011L), L"The server could not locate the requested object."},
    {static_cast<HRESULT>(0xC0040203L), L"The server does not recognise the passed property ID."},
    {static_cast<HRESULT>(0xC0040204L), L"The time does not match the latest active time."},
    {static_cast<HRESULT>(0xC0040205L), L"A refresh is currently in progress."},
    {static_cast<HRESULT>(0xC0040206L), L"Information is not available."},
    {static_cast<HRESULT>(0xC0048004L), L""},  // no text anywhere
};

TEST_F(Server, BothGetErrorStringMethodsGiveEachCodesOwnText) {
    IOPCCommon* common = nullptr;
    ASSERT_EQ(server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(&common)), S_OK);
    for (const auto& [code, expected] : kErrorTexts) {
        LPWSTR fromServer = nullptr, fromCommon = nullptr;
        EXPECT_EQ(server->GetErrorString(code, 0x409, &fromServer), S_OK);
        EXPECT_EQ(common->GetErrorString(code, &fromCommon), S_OK);
        EXPECT_EQ(std::wstring(fromServer ? fromServer : L"<none>"), expected) << "IOPCServer, code " << std::hex << code;
        EXPECT_EQ(std::wstring(fromCommon ? fromCommon : L"<none>"), expected) << "IOPCCommon, code " << std::hex << code;
        CoTaskMemFree(fromServer);
        CoTaskMemFree(fromCommon);
    }
    common->Release();
}

// What a broken or hostile late-bound client may send: counts beyond its arrays (the type
// information writes an identifier for every name it is told of, and walks every argument it is
// told of), named arguments that outnumber the arguments, the members a dual interface inherits.
TEST_F(Server, DispatchRefusesCountsBeyondItsArraysAndNeverReleasesThroughInvoke) {
    IDispatch* dual = nullptr;
    ASSERT_EQ(server->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dual)), S_OK);
    LPOLESTR name = const_cast<LPOLESTR>(L"NoSuchMember");
    DISPID id = 12345;
    EXPECT_EQ(dual->GetIDsOfNames(IID_NULL, &name, 0xFFFFFFFF, 0, &id), E_INVALIDARG);
    EXPECT_EQ(id, 12345);

    VARIANT arg;
    VariantInit(&arg);
    DISPID named = DISPID_PROPERTYPUT;
    struct TShape {
        VARIANT* args;
        DISPID* names;
        UINT cArgs, cNamed;
    };
    for (const TShape& p : {TShape{&arg, &named, 0xFFFFFFFF, 0xFFFFFFFF}, TShape{&arg, &named, 0xFFFFFFFF, 0},
                            TShape{&arg, &named, 1, 2}, TShape{nullptr, nullptr, 1, 0}, TShape{&arg, nullptr, 1, 1}}) {
        DISPPARAMS params{p.args, p.names, p.cArgs, p.cNamed};
        EXPECT_EQ(dual->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
                  E_INVALIDARG)
            << p.cArgs << " arguments, " << p.cNamed << " named";
    }

    // Well-formed calls reach the type information, which knows no member of IDA2's own, nor lets
    // a client call the IUnknown members it inherits (0x60000001 AddRef, 0x60000002 Release).
    const ULONG refs = dual->AddRef() - 1;
    dual->Release();
    for (DISPID member : {DISPID(1), DISPID(0x60000001), DISPID(0x60000002)}) {
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        EXPECT_TRUE(FAILED(dual->Invoke(member, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr)))
            << member;
        VariantClear(&result);
    }
    EXPECT_EQ(dual->AddRef() - 1, refs);
    dual->Release();
    dual->Release();
}

}  // namespace
}  // namespace tw::opc

namespace tw::opc {
namespace {

std::wstring DocString(ITypeLib* tl, int index) {
    BSTR name = nullptr, doc = nullptr;
    tl->GetDocumentation(index, &name, &doc, nullptr, nullptr);
    std::wstring out = std::wstring(name ? name : L"") + L"|" + (doc ? doc : L"");
    SysFreeString(name);
    SysFreeString(doc);
    return out;
}

TEST(TypeLibrary, EmbeddedLibraryDescribesTheServerAndTheGroup) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    ITypeLib* tl = nullptr;
    ASSERT_EQ(LoadTypeLibEx(exe, REGKIND_NONE, &tl), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(tl->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_Tarnowick));
    EXPECT_EQ(attr->wMajorVerNum, 2);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->lcid, 0x0409u);
    tl->ReleaseTLibAttr(attr);
    EXPECT_EQ(DocString(tl, -1), L"Tarnowick|Velmora Tarnowick OPC Library");

    struct TExpected {
        const GUID& guid;
        TYPEKIND kind;
        const wchar_t* doc;
        WORD functions;  // a dual interface's dispatch view lists only the inherited IUnknown and IDispatch
    };
    const TExpected expected[] = {
        {IID_IDA2, TKIND_DISPATCH, L"IDA2|Dispatch interface for Data Access 2.0 Object", 7},
        {CLSID_DA2, TKIND_COCLASS, L"DA2|Velmora DA Object", 0},
        {DIID_DA2Unknown, TKIND_DISPATCH, L"DA2Unknown|", 0},
        {IID_IOPCGroup, TKIND_INTERFACE, L"IOPCGroup|Interface for OPCGroup Object", 0},
        {CLSID_OPCGroup, TKIND_COCLASS, L"OPCGroup|OPCGroup Object", 0},
    };
    for (const TExpected& e : expected) {
        ITypeInfo* ti = nullptr;
        ASSERT_EQ(tl->GetTypeInfoOfGuid(e.guid, &ti), S_OK) << DocString(tl, -1);
        TYPEATTR* ta = nullptr;
        ASSERT_EQ(ti->GetTypeAttr(&ta), S_OK);
        EXPECT_EQ(ta->typekind, e.kind);
        EXPECT_EQ(ta->cFuncs, e.functions) << "no members of its own";
        if (IsEqualGUID(e.guid, IID_IDA2)) {
            EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FDUAL);
        }
        ti->ReleaseTypeAttr(ta);
        BSTR name = nullptr, doc = nullptr;
        ti->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr);
        EXPECT_EQ(std::wstring(name ? name : L"") + L"|" + (doc ? doc : L""), e.doc);
        SysFreeString(name);
        SysFreeString(doc);
        ti->Release();
    }
    tl->Release();
}

}  // namespace
}  // namespace tw::opc
