// The table: one row per method of every interface the server exposes, each row making the
// arguments of one call, making it, and checking and freeing what came back.
#include "HostileCall.h"

#include <oleauto.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "HostileMemory.h"
#include "HostileObjects.h"
#include "Tarnowick.h"
#include "opc/Guids.h"

namespace tw::opc::hostile {
namespace {

constexpr std::size_t kEnumArray = 64;  // room for every element an enumerator of this run can hold
constexpr std::size_t kMaxItemsPerGroup = 3000;

template <class Itf>
Itf* On(TCall& c, REFIID iid) {
    return c.target ? c.world.As<Itf>(*c.target, iid) : nullptr;
}

void Forget(std::vector<OPCHANDLE>& from, OPCHANDLE h) {
    from.erase(std::remove(from.begin(), from.end(), h), from.end());
}

void KeepRecent(std::vector<DWORD>& ids, DWORD id) {
    if (ids.size() >= 64) ids.erase(ids.begin());
    ids.push_back(id);
}

void NoteGroupName(TWorld& world, const wchar_t* name) {
    if (!name || wcslen(name) > 64) return;
    if (world.groupNames.size() >= 32) world.groupNames.erase(world.groupNames.begin());
    world.groupNames.emplace_back(name);
}

// A typeinfo or another object that is not the server's but must come back NULL or usable.
template <class Itf>
void Foreign(TCall& c, int slot, Itf* p) {
    if (c.Null(slot)) return;
    if (p == Poison<Itf*>()) {
        c.Fault("[out] pointer " + std::to_string(slot) + " left undefined");
    } else if (p) {
        if (FAILED(c.hr)) c.Fault("failure handing out an interface");
        p->Release();
    }
}

// ---- IOPCServer ----

void AddGroup(TCall& c) {
    auto* s = On<IOPCServer>(c, IID_IOPCServer);
    if (!s) return;
    static unsigned serial = 0;
    std::wstring unique = L"hostile" + std::to_wstring(++serial);
    const wchar_t* name = c.rng.OneIn(3) ? unique.c_str() : c.Text();
    const BOOL active = c.Flag();
    const DWORD rate = c.Rate();
    const OPCHANDLE client = static_cast<OPCHANDLE>(c.rng.Next());
    LONG bias = c.Bias();
    FLOAT band = c.Deadband();
    const DWORD lcid = c.Lcid();
    const IID riid = c.rng.OneIn(2) ? IID_IUnknown : c.Iid();
    OPCHANDLE handle = 0xDEADBEEF;
    DWORD revised = 0;
    IUnknown* unk = Poison<IUnknown*>();
    c.Invoke(s, [&] {
        return s->AddGroup(c.In(0, name), active, rate, client, c.In(1, &bias), c.In(2, &band), lcid, c.In(3, &handle),
                           c.In(4, &revised), riid, c.In(5, &unk));
    });
    if (auto g = c.Interface(5, unk, TKind::Group, IID_NULL, true, c.target)) {
        g->handle = c.Null(3) ? 0 : handle;
        NoteGroupName(c.world, name);
    }
}

void ServerErrorString(TCall& c) {
    auto* s = On<IOPCServer>(c, IID_IOPCServer);
    if (!s) return;
    const HRESULT code = c.Code();
    const LCID lcid = c.Lcid();
    LPWSTR text = Poison<LPWSTR>();
    c.Invoke(s, [&] { return s->GetErrorString(code, lcid, c.In(0, &text)); });
    c.String(0, text);
}

void GetGroupByName(TCall& c) {
    auto* s = On<IOPCServer>(c, IID_IOPCServer);
    if (!s) return;
    const wchar_t* name = c.rng.OneIn(4) ? c.Text() : c.world.GroupName().c_str();
    const IID riid = c.rng.OneIn(2) ? IID_IOPCItemMgt : c.Iid();
    IUnknown* unk = Poison<IUnknown*>();
    c.Invoke(s, [&] { return s->GetGroupByName(c.In(0, name), riid, c.In(1, &unk)); });
    c.Interface(1, unk, TKind::Group, riid, true, c.target);
}

void GetStatus(TCall& c) {
    auto* s = On<IOPCServer>(c, IID_IOPCServer);
    if (!s) return;
    OPCSERVERSTATUS* status = Poison<OPCSERVERSTATUS*>();
    c.Invoke(s, [&] { return s->GetStatus(c.In(0, &status)); });
    if (!c.Returned(0, status, sizeof(OPCSERVERSTATUS))) return;
    c.StringEntry(status->szVendorInfo);
    c.FreeBlock(status);
}

void RemoveGroup(TCall& c) {
    auto* s = On<IOPCServer>(c, IID_IOPCServer);
    if (!s) return;
    const OPCHANDLE handle = c.world.GroupHandle(c.target.get());
    const BOOL force = c.Flag();
    c.Invoke(s, [&] { return s->RemoveGroup(handle, force); });
    if (FAILED(c.hr)) return;
    bool known = false;
    for (const auto& g : c.world.All(TKind::Group)) {
        if (g->handle != handle || g->owner.lock() != c.target) continue;
        g->removed = known = true;
    }
    if (known) c.world.goneGroups.push_back(handle);
}

void CreateGroupEnumerator(TCall& c) {
    auto* s = On<IOPCServer>(c, IID_IOPCServer);
    if (!s) return;
    const OPCENUMSCOPE scope = static_cast<OPCENUMSCOPE>(c.rng.OneIn(4) ? c.rng.Below(9) : 1 + c.rng.Below(6));
    const IID riid = c.rng.OneIn(3) ? c.Iid() : (c.rng.OneIn(2) ? IID_IEnumString : IID_IEnumUnknown);
    IUnknown* unk = Poison<IUnknown*>();
    c.Invoke(s, [&] { return s->CreateGroupEnumerator(scope, riid, c.In(0, &unk)); });
    const TKind kind = IsEqualIID(riid, IID_IEnumString)    ? TKind::EnumString
                       : IsEqualIID(riid, IID_IEnumUnknown) ? TKind::EnumUnknown
                                                            : TKind::World;
    c.Interface(0, unk, kind, riid, true, c.target);
}

// ---- IOPCCommon ----

void SetLocaleID(TCall& c) {
    auto* s = On<IOPCCommon>(c, IID_IOPCCommon);
    if (!s) return;
    const LCID lcid = c.Lcid();
    c.Invoke(s, [&] { return s->SetLocaleID(lcid); });
}

void GetLocaleID(TCall& c) {
    auto* s = On<IOPCCommon>(c, IID_IOPCCommon);
    if (!s) return;
    LCID lcid = 0;
    c.Invoke(s, [&] { return s->GetLocaleID(c.In(0, &lcid)); });
}

void QueryAvailableLocaleIDs(TCall& c) {
    auto* s = On<IOPCCommon>(c, IID_IOPCCommon);
    if (!s) return;
    DWORD count = 0xDEADBEEF;
    LCID* ids = Poison<LCID*>();
    c.Invoke(s, [&] { return s->QueryAvailableLocaleIDs(c.In(0, &count), c.In(1, &ids)); });
    const std::size_t n = c.Null(0) || FAILED(c.hr) ? 0 : count;
    if (c.Returned(1, ids, n * sizeof(LCID))) c.FreeBlock(ids);
}

void CommonErrorString(TCall& c) {
    auto* s = On<IOPCCommon>(c, IID_IOPCCommon);
    if (!s) return;
    const HRESULT code = c.Code();
    LPWSTR text = Poison<LPWSTR>();
    c.Invoke(s, [&] { return s->GetErrorString(code, c.In(0, &text)); });
    c.String(0, text);
}

void SetClientName(TCall& c) {
    auto* s = On<IOPCCommon>(c, IID_IOPCCommon);
    if (!s) return;
    const wchar_t* name = c.Text();
    c.Invoke(s, [&] { return s->SetClientName(c.In(0, name)); });
}

// ---- IOPCItemProperties ----

std::vector<DWORD> PropertyIds(TCall& c, std::size_t n) {
    std::vector<DWORD> ids(n);
    const DWORD tags = static_cast<DWORD>(c.env.tagNames.size());
    for (DWORD& id : ids) {
        switch (c.rng.Below(5)) {
            case 0:
            case 1:
                id = c.rng.Below(8);
                break;
            case 2:
                id = 6000 + c.rng.Below(tags + 2);
                break;  // ids of tags, and just past them
            case 3:
                id = c.rng.OneIn(2) ? 6999 : 7000;
                break;
            default:
                id = static_cast<DWORD>(c.rng.Next());
                break;
        }
    }
    return ids;
}

void QueryAvailableProperties(TCall& c) {
    auto* s = On<IOPCItemProperties>(c, IID_IOPCItemProperties);
    if (!s) return;
    auto* id = const_cast<LPWSTR>(c.ItemId());
    DWORD count = 0xDEADBEEF;
    DWORD* ids = Poison<DWORD*>();
    LPWSTR* descriptions = Poison<LPWSTR*>();
    VARTYPE* types = Poison<VARTYPE*>();
    c.Invoke(s, [&] {
        return s->QueryAvailableProperties(c.In(0, id), c.In(1, &count), c.In(2, &ids), c.In(3, &descriptions),
                                           c.In(4, &types));
    });
    const std::size_t n = c.Null(1) || FAILED(c.hr) ? 0 : count;
    if (n > 1000) c.Fault("a count of " + std::to_string(n) + " properties");
    if (c.Returned(2, ids, n * sizeof(DWORD))) c.FreeBlock(ids);
    if (c.Returned(3, descriptions, n * sizeof(LPWSTR))) {
        for (std::size_t i = 0; i < n; ++i) c.StringEntry(descriptions[i]);
        c.FreeBlock(descriptions);
    }
    if (c.Returned(4, types, n * sizeof(VARTYPE))) c.FreeBlock(types);
}

void GetItemProperties(TCall& c) {
    auto* s = On<IOPCItemProperties>(c, IID_IOPCItemProperties);
    if (!s) return;
    auto* id = const_cast<LPWSTR>(c.ItemId());
    const DWORD n = c.Count();
    std::vector<DWORD> ids = PropertyIds(c, c.Entries(n));
    VARIANT* values = Poison<VARIANT*>();
    HRESULT* errors = Poison<HRESULT*>();
    c.Invoke(s, [&] {
        return s->GetItemProperties(c.In(0, id), n, c.In(1, ids.data()), c.In(2, &values), c.In(3, &errors));
    });
    if (c.Returned(2, values, std::size_t{n} * sizeof(VARIANT))) {
        for (DWORD i = 0; i < n; ++i) c.Variant(values[i]);
        c.FreeBlock(values);
    }
    if (c.Returned(3, errors, std::size_t{n} * sizeof(HRESULT))) {
        c.ErrorsAgree(errors, n);
        c.FreeBlock(errors);
    }
}

void LookupItemIDs(TCall& c) {
    auto* s = On<IOPCItemProperties>(c, IID_IOPCItemProperties);
    if (!s) return;
    auto* id = const_cast<LPWSTR>(c.ItemId());
    const DWORD n = c.Count();
    std::vector<DWORD> ids = PropertyIds(c, c.Entries(n));
    LPWSTR* names = Poison<LPWSTR*>();
    HRESULT* errors = Poison<HRESULT*>();
    c.Invoke(s,
             [&] { return s->LookupItemIDs(c.In(0, id), n, c.In(1, ids.data()), c.In(2, &names), c.In(3, &errors)); });
    if (c.Returned(2, names, std::size_t{n} * sizeof(LPWSTR))) {
        for (DWORD i = 0; i < n; ++i) c.StringEntry(names[i]);
        c.FreeBlock(names);
    }
    if (c.Returned(3, errors, std::size_t{n} * sizeof(HRESULT))) {
        c.ErrorsAgree(errors, n);
        c.FreeBlock(errors);
    }
}

// ---- IOPCBrowseServerAddressSpace ----

void QueryOrganization(TCall& c) {
    auto* s = On<IOPCBrowseServerAddressSpace>(c, IID_IOPCBrowseServerAddressSpace);
    if (!s) return;
    OPCNAMESPACETYPE type{};
    c.Invoke(s, [&] { return s->QueryOrganization(c.In(0, &type)); });
}

void ChangeBrowsePosition(TCall& c) {
    auto* s = On<IOPCBrowseServerAddressSpace>(c, IID_IOPCBrowseServerAddressSpace);
    if (!s) return;
    const auto direction = static_cast<OPCBROWSEDIRECTION>(c.rng.Below(5));
    const wchar_t* where = c.Text();
    c.Invoke(s, [&] { return s->ChangeBrowsePosition(direction, c.In(0, where)); });
}

void BrowseOPCItemIDs(TCall& c) {
    auto* s = On<IOPCBrowseServerAddressSpace>(c, IID_IOPCBrowseServerAddressSpace);
    if (!s) return;
    const auto type = static_cast<OPCBROWSETYPE>(c.rng.Below(5));
    const wchar_t* filter = c.rng.OneIn(3) ? L"" : c.Text();
    const VARTYPE vt = c.rng.OneIn(2) ? VARTYPE{VT_EMPTY} : c.Type();
    const DWORD rights = c.rng.OneIn(4) ? static_cast<DWORD>(c.rng.Next()) : c.rng.Below(5);
    LPENUMSTRING e = Poison<LPENUMSTRING>();
    c.Invoke(s, [&] { return s->BrowseOPCItemIDs(type, c.In(0, filter), vt, rights, c.In(1, &e)); });
    c.Interface(1, e, TKind::EnumString, IID_IEnumString, true, c.target);
}

void GetItemID(TCall& c) {
    auto* s = On<IOPCBrowseServerAddressSpace>(c, IID_IOPCBrowseServerAddressSpace);
    if (!s) return;
    auto* name = const_cast<LPWSTR>(c.ItemId());
    LPWSTR id = Poison<LPWSTR>();
    c.Invoke(s, [&] { return s->GetItemID(c.In(0, name), c.In(1, &id)); });
    c.String(1, id);
}

void BrowseAccessPaths(TCall& c) {
    auto* s = On<IOPCBrowseServerAddressSpace>(c, IID_IOPCBrowseServerAddressSpace);
    if (!s) return;
    const wchar_t* name = c.ItemId();
    LPENUMSTRING e = Poison<LPENUMSTRING>();
    c.Invoke(s, [&] { return s->BrowseAccessPaths(c.In(0, name), c.In(1, &e)); });
    c.Interface(1, e, TKind::EnumString, IID_IEnumString, true, c.target);
}

// ---- connection points, on the server object and on groups ----

void EnumConnectionPoints(TCall& c) {
    auto* s = On<IConnectionPointContainer>(c, IID_IConnectionPointContainer);
    if (!s) return;
    IEnumConnectionPoints* e = Poison<IEnumConnectionPoints*>();
    c.Invoke(s, [&] { return s->EnumConnectionPoints(c.In(0, &e)); });
    c.Interface(0, e, TKind::EnumConnectionPoints, IID_IEnumConnectionPoints, true, c.target);
}

void FindConnectionPoint(TCall& c) {
    auto* s = On<IConnectionPointContainer>(c, IID_IConnectionPointContainer);
    if (!s) return;
    const IID riid = c.rng.OneIn(3) ? c.Iid() : (c.rng.OneIn(2) ? IID_IOPCShutdown : IID_IOPCDataCallback);
    IConnectionPoint* p = Poison<IConnectionPoint*>();
    c.Invoke(s, [&] { return s->FindConnectionPoint(riid, c.In(0, &p)); });
    c.Interface(0, p, TKind::Point, IID_IConnectionPoint, true, c.target);
}

void GetConnectionInterface(TCall& c) {
    auto* p = On<IConnectionPoint>(c, IID_IConnectionPoint);
    if (!p) return;
    IID iid{};
    c.Invoke(p, [&] { return p->GetConnectionInterface(c.In(0, &iid)); });
}

void GetConnectionPointContainer(TCall& c) {
    auto* p = On<IConnectionPoint>(c, IID_IConnectionPoint);
    if (!p) return;
    IConnectionPointContainer* cpc = Poison<IConnectionPointContainer*>();
    c.Invoke(p, [&] { return p->GetConnectionPointContainer(c.In(0, &cpc)); });
    c.Interface(0, cpc, TKind::World, IID_IConnectionPointContainer);
}

void Advise(TCall& c) {
    auto* p = On<IConnectionPoint>(c, IID_IConnectionPoint);
    if (!p) return;
    IUnknown* sink = c.rng.OneIn(8)
                         ? static_cast<IUnknown*>(static_cast<IDispatch*>(new TValueObject(TValueObject::Number)))
                         : static_cast<IUnknown*>(static_cast<IOPCDataCallback*>(new TSink(!c.rng.OneIn(5))));
    c.bag.Hold(sink);
    DWORD cookie = 0xDEADBEEF;
    c.Invoke(p, [&] { return p->Advise(c.In(0, sink), c.In(1, &cookie)); });
    if (c.hr == S_OK && !c.Null(1)) c.target->cookies.push_back(cookie);
}

void Unadvise(TCall& c) {
    auto* p = On<IConnectionPoint>(c, IID_IConnectionPoint);
    if (!p) return;
    const DWORD cookie = c.world.Cookie(c.target.get());
    c.Invoke(p, [&] { return p->Unadvise(cookie); });
    if (c.hr != S_OK) return;
    auto& live = c.target->cookies;
    live.erase(std::remove(live.begin(), live.end(), cookie), live.end());
    if (c.target->staleCookies.size() < 32) c.target->staleCookies.push_back(cookie);
}

void EnumConnections(TCall& c) {
    auto* p = On<IConnectionPoint>(c, IID_IConnectionPoint);
    if (!p) return;
    IEnumConnections* e = Poison<IEnumConnections*>();
    c.Invoke(p, [&] { return p->EnumConnections(c.In(0, &e)); });
    c.Interface(0, e, TKind::EnumConnections, IID_IEnumConnections, true, c.target);
}

// ---- IDispatch (IDA2), IProvideClassInfo, ISupportErrorInfo, IUnknown ----

void GetTypeInfoCount(TCall& c) {
    auto* d = On<IDispatch>(c, IID_IDispatch);
    if (!d) return;
    UINT n = 0;
    c.Invoke(d, [&] { return d->GetTypeInfoCount(c.In(0, &n)); });
}

void GetTypeInfo(TCall& c) {
    auto* d = On<IDispatch>(c, IID_IDispatch);
    if (!d) return;
    const UINT index = c.rng.OneIn(2) ? 0 : static_cast<UINT>(c.rng.Next());
    const LCID lcid = c.Lcid();
    ITypeInfo* info = Poison<ITypeInfo*>();
    c.Invoke(d, [&] { return d->GetTypeInfo(index, lcid, c.In(0, &info)); });
    Foreign(c, 0, info);
}

void GetIDsOfNames(TCall& c) {
    auto* d = On<IDispatch>(c, IID_IDispatch);
    if (!d) return;
    const DWORD n = c.Count();
    std::vector<LPOLESTR> names(c.Entries(n));
    for (LPOLESTR& name : names) name = c.rng.OneIn(6) ? nullptr : const_cast<LPOLESTR>(c.Text());
    std::vector<DISPID> ids(names.size());
    const IID riid = c.rng.OneIn(4) ? c.Iid() : IID_NULL;
    const LCID lcid = c.Lcid();
    c.Invoke(d, [&] { return d->GetIDsOfNames(riid, c.In(0, names.data()), n, lcid, c.In(1, ids.data())); });
}

void DispatchInvoke(TCall& c) {
    auto* d = On<IDispatch>(c, IID_IDispatch);
    if (!d) return;
    // The last ones name the IUnknown and IDispatch members a dual interface inherits.
    static const DISPID kIds[] = {0,          DISPID_VALUE, DISPID_UNKNOWN, DISPID_NEWENUM, 1,          0x60000000,
                                  0x60000001, 0x60000002,   0x60010000,     0x60010001,     0x60010002, 0x60010003};
    const DISPID id = c.rng.OneIn(3) ? static_cast<DISPID>(c.rng.Next()) : c.rng.Pick(kIds);
    const WORD flags = static_cast<WORD>(c.rng.OneIn(3) ? c.rng.Next() : 1u << c.rng.Below(4));
    // The proxy reads the parameters as given, so only an in-process call may have them disagree.
    const DWORD n = c.env.inProcess ? c.Count() : c.rng.Below(3);
    std::vector<VARIANT> args = c.Values(c.Entries(n));
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{args.data(), &named, n, c.env.inProcess && c.rng.OneIn(3) ? n : (c.rng.OneIn(4) ? 1u : 0u)};
    if (!c.env.inProcess && params.cNamedArgs > params.cArgs) params.cNamedArgs = 0;
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    UINT argError = 0;
    const IID riid = c.rng.OneIn(4) ? c.Iid() : IID_NULL;
    const LCID lcid = c.Lcid();
    // The dispatch proxy reads the parameters it is given without a test: across processes they stay.
    DISPPARAMS* given = c.env.inProcess ? c.In(0, &params) : &params;
    c.Invoke(d, [&] {
        return d->Invoke(id, riid, lcid, flags, given, c.In(1, &result), c.In(2, &info), c.In(3, &argError));
    });
    c.Variant(result);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
}

void GetClassInfo(TCall& c) {
    auto* p = On<IProvideClassInfo>(c, IID_IProvideClassInfo);
    if (!p) return;
    ITypeInfo* info = Poison<ITypeInfo*>();
    c.Invoke(p, [&] { return p->GetClassInfo(c.In(0, &info)); });
    Foreign(c, 0, info);
}

void InterfaceSupportsErrorInfo(TCall& c) {
    c.target = c.world.AnyObject();
    auto* p = On<ISupportErrorInfo>(c, IID_ISupportErrorInfo);
    if (!p) return;
    const IID riid = c.Iid();
    c.Invoke(p, [&] { return p->InterfaceSupportsErrorInfo(riid); });
}

void QueryInterface(TCall& c) {
    c.target = c.world.AnyObject();
    if (!c.target || c.target->refs.empty()) return;
    IUnknown* u = c.target->refs[c.rng.Below(static_cast<uint32_t>(c.target->refs.size()))].second;
    const IID riid = c.Iid();
    void* p = Poison<void*>();
    // A proxy's QueryInterface writes through ppv without a test: across processes it stays.
    void** out = c.env.inProcess ? c.In(0, &p) : &p;
    c.Invoke(u, [&] { return u->QueryInterface(riid, out); });
    if (!out) return;
    if (p == Poison<void*>()) {
        c.Fault("[out] pointer 0 left undefined");
    } else if (p && SUCCEEDED(c.hr)) {
        c.target->refs.emplace_back(riid, static_cast<IUnknown*>(p));
    } else if (p) {
        c.Fault("failure handing out an interface");
        static_cast<IUnknown*>(p)->Release();
    }
}

void AddRefRelease(TCall& c) {
    c.target = c.world.AnyObject();
    if (!c.target || c.target->refs.empty()) return;
    IUnknown* u = c.target->refs[c.rng.Below(static_cast<uint32_t>(c.target->refs.size()))].second;
    const uint32_t n = 1 + c.rng.Below(3);
    for (uint32_t i = 0; i < n; ++i) c.Invoke(nullptr, [&] { return static_cast<HRESULT>(u->AddRef()); });
    for (uint32_t i = 0; i < n; ++i) c.Invoke(nullptr, [&] { return static_cast<HRESULT>(u->Release()); });
}

// ---- IOPCGroupStateMgt ----

void GetState(TCall& c) {
    auto* g = On<IOPCGroupStateMgt>(c, IID_IOPCGroupStateMgt);
    if (!g) return;
    DWORD rate = 0, lcid = 0;
    BOOL active = 0;
    LPWSTR name = Poison<LPWSTR>();
    LONG bias = 0;
    FLOAT band = 0;
    OPCHANDLE client = 0, server = 0;
    c.Invoke(g, [&] {
        return g->GetState(c.In(0, &rate), c.In(1, &active), c.In(2, &name), c.In(3, &bias), c.In(4, &band),
                           c.In(5, &lcid), c.In(6, &client), c.In(7, &server));
    });
    c.String(2, name);
    if (c.hr == S_OK && !c.Null(7) && c.target->handle == 0) c.target->handle = server;
}

void SetState(TCall& c) {
    auto* g = On<IOPCGroupStateMgt>(c, IID_IOPCGroupStateMgt);
    if (!g) return;
    DWORD rate = c.Rate(), revised = 0, lcid = c.Lcid();
    BOOL active = c.Flag();
    LONG bias = c.Bias();
    FLOAT band = c.Deadband();
    OPCHANDLE client = static_cast<OPCHANDLE>(c.rng.Next());
    c.Invoke(g, [&] {
        return g->SetState(c.In(0, &rate), c.In(1, &revised), c.In(2, &active), c.In(3, &bias), c.In(4, &band),
                           c.In(5, &lcid), c.In(6, &client));
    });
}

void SetName(TCall& c) {
    auto* g = On<IOPCGroupStateMgt>(c, IID_IOPCGroupStateMgt);
    if (!g) return;
    const wchar_t* name = c.Text();
    c.Invoke(g, [&] { return g->SetName(c.In(0, name)); });
    if (c.hr == S_OK) NoteGroupName(c.world, name);
}

void CloneGroup(TCall& c) {
    auto* g = On<IOPCGroupStateMgt>(c, IID_IOPCGroupStateMgt);
    if (!g) return;
    const wchar_t* name = c.rng.OneIn(3) ? L"" : c.Text();
    const IID riid = c.rng.OneIn(3) ? c.Iid() : (c.rng.OneIn(2) ? IID_IOPCGroupStateMgt : CLSID_OPCEnumerators);
    IUnknown* unk = Poison<IUnknown*>();
    c.Invoke(g, [&] { return g->CloneGroup(c.In(0, name), riid, c.In(1, &unk)); });
    const bool typed = IsEqualIID(riid, IID_IOPCGroupStateMgt);
    if (auto clone = c.Interface(1, unk, TKind::Group, typed ? riid : IID_NULL, true, c.target->owner.lock()))
        NoteGroupName(c.world, name);
}

// ---- IOPCItemMgt ----

std::vector<OPCITEMDEF> Definitions(TCall& c, std::size_t n, std::vector<BYTE>& blob) {
    std::vector<OPCITEMDEF> defs(n);
    blob.assign(16, 0xA5);
    for (OPCITEMDEF& d : defs) {
        d.szItemID = c.rng.OneIn(10) ? nullptr : const_cast<LPWSTR>(c.ItemId());
        d.szAccessPath = c.rng.OneIn(3) ? nullptr : const_cast<LPWSTR>(c.Text());
        d.bActive = c.Flag();
        d.hClient = static_cast<OPCHANDLE>(c.rng.Next());
        // A blob the server ignores; in-process also one whose size names no memory.
        const uint32_t b = c.rng.Below(4);
        d.dwBlobSize = b == 0 ? 16 : (b == 1 && c.env.inProcess ? 0x7FFFFFFF : 0);
        d.pBlob = b == 0 ? blob.data() : nullptr;
        d.vtRequestedDataType = c.rng.OneIn(2) ? VARTYPE{VT_EMPTY} : c.Type();
    }
    return defs;
}

// Checks a result array and keeps the server handles of accepted items when keep is set.
void Results(TCall& c, int resultSlot, int errorSlot, OPCITEMRESULT* results, HRESULT* errors, DWORD n, bool keep) {
    const bool gotResults = c.Returned(resultSlot, results, std::size_t{n} * sizeof(OPCITEMRESULT));
    const bool gotErrors = c.Returned(errorSlot, errors, std::size_t{n} * sizeof(HRESULT));
    if (gotErrors) c.ErrorsAgree(errors, n);
    for (DWORD i = 0; gotResults && i < n; ++i) {
        c.BlockEntry(results[i].pBlob);
        if (keep && gotErrors && errors[i] == S_OK) c.target->items.push_back(results[i].hServer);
    }
    if (gotResults) c.FreeBlock(results);
    if (gotErrors) c.FreeBlock(errors);
}

void AddItems(TCall& c) {
    auto* g = On<IOPCItemMgt>(c, IID_IOPCItemMgt);
    if (!g) return;
    DWORD n = c.Count();
    if (c.target->items.size() > kMaxItemsPerGroup && n == 1000) n = 3;
    std::vector<BYTE> blob;
    std::vector<OPCITEMDEF> defs = Definitions(c, c.Entries(n), blob);
    OPCITEMRESULT* results = Poison<OPCITEMRESULT*>();
    HRESULT* errors = Poison<HRESULT*>();
    c.Invoke(g, [&] { return g->AddItems(n, c.In(0, defs.data()), c.In(1, &results), c.In(2, &errors)); });
    Results(c, 1, 2, results, errors, n, true);
}

void ValidateItems(TCall& c) {
    auto* g = On<IOPCItemMgt>(c, IID_IOPCItemMgt);
    if (!g) return;
    const DWORD n = c.Count();
    std::vector<BYTE> blob;
    std::vector<OPCITEMDEF> defs = Definitions(c, c.Entries(n), blob);
    const BOOL blobUpdate = c.Flag();
    OPCITEMRESULT* results = Poison<OPCITEMRESULT*>();
    HRESULT* errors = Poison<HRESULT*>();
    c.Invoke(
        g, [&] { return g->ValidateItems(n, c.In(0, defs.data()), blobUpdate, c.In(1, &results), c.In(2, &errors)); });
    Results(c, 1, 2, results, errors, n, false);
}

// The error array of a per-handle call; calls keep(i) for each entry that succeeded.
template <class Keep>
void HandleErrors(TCall& c, int slot, HRESULT* errors, DWORD n, bool agree, Keep keep) {
    if (!c.Returned(slot, errors, std::size_t{n} * sizeof(HRESULT))) return;
    if (agree) c.ErrorsAgree(errors, n);
    for (DWORD i = 0; i < n; ++i)
        if (errors[i] == S_OK) keep(i);
    c.FreeBlock(errors);
}

void RemoveItems(TCall& c) {
    auto* g = On<IOPCItemMgt>(c, IID_IOPCItemMgt);
    if (!g) return;
    const DWORD n = c.Count();
    std::vector<OPCHANDLE> handles = c.ItemHandles(c.Entries(n));
    HRESULT* errors = Poison<HRESULT*>();
    c.Invoke(g, [&] { return g->RemoveItems(n, c.In(0, handles.data()), c.In(1, &errors)); });
    HandleErrors(c, 1, errors, n, true, [&](DWORD i) {
        Forget(c.target->items, handles[i]);
        if (c.target->staleItems.size() < 64) c.target->staleItems.push_back(handles[i]);
    });
}

void SetActiveState(TCall& c) {
    auto* g = On<IOPCItemMgt>(c, IID_IOPCItemMgt);
    if (!g) return;
    const DWORD n = c.Count();
    std::vector<OPCHANDLE> handles = c.ItemHandles(c.Entries(n));
    const BOOL active = c.Flag();
    HRESULT* errors = Poison<HRESULT*>();
    c.Invoke(g, [&] { return g->SetActiveState(n, c.In(0, handles.data()), active, c.In(1, &errors)); });
    HandleErrors(c, 1, errors, n, true, [](DWORD) {});
}

void SetClientHandles(TCall& c) {
    auto* g = On<IOPCItemMgt>(c, IID_IOPCItemMgt);
    if (!g) return;
    const DWORD n = c.Count();
    std::vector<OPCHANDLE> handles = c.ItemHandles(c.Entries(n));
    std::vector<OPCHANDLE> clients(handles.size());
    for (OPCHANDLE& h : clients) h = static_cast<OPCHANDLE>(c.rng.Next());
    HRESULT* errors = Poison<HRESULT*>();
    c.Invoke(
        g, [&] { return g->SetClientHandles(n, c.In(0, handles.data()), c.In(1, clients.data()), c.In(2, &errors)); });
    HandleErrors(c, 2, errors, n, true, [](DWORD) {});
}

void SetDatatypes(TCall& c) {
    auto* g = On<IOPCItemMgt>(c, IID_IOPCItemMgt);
    if (!g) return;
    const DWORD n = c.Count();
    std::vector<OPCHANDLE> handles = c.ItemHandles(c.Entries(n));
    std::vector<VARTYPE> types(handles.size());
    for (VARTYPE& t : types) t = c.Type();
    HRESULT* errors = Poison<HRESULT*>();
    c.Invoke(g, [&] { return g->SetDatatypes(n, c.In(0, handles.data()), c.In(1, types.data()), c.In(2, &errors)); });
    HandleErrors(c, 2, errors, n, true, [](DWORD) {});
}

void CreateEnumerator(TCall& c) {
    auto* g = On<IOPCItemMgt>(c, IID_IOPCItemMgt);
    if (!g) return;
    static const IID kIids[] = {IID_IEnumOPCItemAttributes, IID_IEnumOPCItemAttributes, CLSID_OPCEnumerators,
                                IID_IUnknown};
    const IID riid = c.rng.OneIn(4) ? c.Iid() : c.rng.Pick(kIids);
    IUnknown* unk = Poison<IUnknown*>();
    c.Invoke(g, [&] { return g->CreateEnumerator(riid, c.In(0, &unk)); });
    c.Interface(0, unk, TKind::EnumItemAttributes, IID_NULL, c.hr == S_OK, c.target);
}

// ---- IOPCSyncIO ----

void SyncRead(TCall& c) {
    auto* g = On<IOPCSyncIO>(c, IID_IOPCSyncIO);
    if (!g) return;
    const auto source = static_cast<OPCDATASOURCE>(c.Source());
    const DWORD n = c.Count();
    std::vector<OPCHANDLE> handles = c.ItemHandles(c.Entries(n));
    OPCITEMSTATE* states = Poison<OPCITEMSTATE*>();
    HRESULT* errors = Poison<HRESULT*>();
    c.Invoke(g, [&] { return g->Read(source, n, c.In(0, handles.data()), c.In(1, &states), c.In(2, &errors)); });
    if (c.Returned(1, states, std::size_t{n} * sizeof(OPCITEMSTATE))) {
        for (DWORD i = 0; i < n; ++i) c.Variant(states[i].vDataValue);
        c.FreeBlock(states);
    }
    HandleErrors(c, 2, errors, n, true, [](DWORD) {});
}

void SyncWrite(TCall& c) {
    auto* g = On<IOPCSyncIO>(c, IID_IOPCSyncIO);
    if (!g) return;
    const DWORD n = c.Count();
    std::vector<OPCHANDLE> handles = c.ItemHandles(c.Entries(n));
    std::vector<VARIANT> values = c.Values(handles.size());
    HRESULT* errors = Poison<HRESULT*>();
    c.Invoke(g, [&] { return g->Write(n, c.In(0, handles.data()), c.In(1, values.data()), c.In(2, &errors)); });
    HandleErrors(c, 2, errors, n, true, [](DWORD) {});
}

// ---- IOPCAsyncIO2 ----

// Asynchronous requests need a sink: half of them go to a group that has one.
template <class Itf>
Itf* Subscribed(TCall& c, REFIID iid) {
    if (c.rng.OneIn(2))
        if (auto g = c.world.SubscribedGroup()) c.target = g;
    return On<Itf>(c, iid);
}

void AsyncRead(TCall& c) {
    auto* g = Subscribed<IOPCAsyncIO2>(c, IID_IOPCAsyncIO2);
    if (!g) return;
    const DWORD n = c.Count();
    std::vector<OPCHANDLE> handles = c.ItemHandles(c.Entries(n));
    const DWORD transaction = static_cast<DWORD>(c.rng.Next());
    DWORD cancel = 0;
    HRESULT* errors = Poison<HRESULT*>();
    c.Invoke(g, [&] { return g->Read(n, c.In(0, handles.data()), transaction, c.In(1, &cancel), c.In(2, &errors)); });
    if (SUCCEEDED(c.hr) && !c.Null(1)) KeepRecent(c.world.cancelIds, cancel);
    HandleErrors(c, 2, errors, n, false, [](DWORD) {});
}

void AsyncWrite(TCall& c) {
    auto* g = Subscribed<IOPCAsyncIO2>(c, IID_IOPCAsyncIO2);
    if (!g) return;
    const DWORD n = c.Count();
    std::vector<OPCHANDLE> handles = c.ItemHandles(c.Entries(n));
    std::vector<VARIANT> values = c.Values(handles.size());
    const DWORD transaction = static_cast<DWORD>(c.rng.Next());
    DWORD cancel = 0;
    HRESULT* errors = Poison<HRESULT*>();
    c.Invoke(g, [&] {
        return g->Write(n, c.In(0, handles.data()), c.In(1, values.data()), transaction, c.In(2, &cancel),
                        c.In(3, &errors));
    });
    if (SUCCEEDED(c.hr) && !c.Null(2)) KeepRecent(c.world.cancelIds, cancel);
    HandleErrors(c, 3, errors, n, false, [](DWORD) {});
}

void Refresh2(TCall& c) {
    auto* g = Subscribed<IOPCAsyncIO2>(c, IID_IOPCAsyncIO2);
    if (!g) return;
    const auto source = static_cast<OPCDATASOURCE>(c.Source());
    const DWORD transaction = static_cast<DWORD>(c.rng.Next());
    DWORD cancel = 0;
    c.Invoke(g, [&] { return g->Refresh2(source, transaction, c.In(0, &cancel)); });
    if (SUCCEEDED(c.hr) && !c.Null(0)) KeepRecent(c.world.cancelIds, cancel);
}

void Cancel2(TCall& c) {
    auto* g = Subscribed<IOPCAsyncIO2>(c, IID_IOPCAsyncIO2);
    if (!g) return;
    const DWORD id = c.world.CancelId();
    c.Invoke(g, [&] { return g->Cancel2(id); });
}

void SetEnable(TCall& c) {
    auto* g = Subscribed<IOPCAsyncIO2>(c, IID_IOPCAsyncIO2);
    if (!g) return;
    const BOOL enable = c.Flag();
    c.Invoke(g, [&] { return g->SetEnable(enable); });
}

void GetEnable(TCall& c) {
    auto* g = Subscribed<IOPCAsyncIO2>(c, IID_IOPCAsyncIO2);
    if (!g) return;
    BOOL enable = 0;
    c.Invoke(g, [&] { return g->GetEnable(c.In(0, &enable)); });
}

// ---- enumerators ----

// In-process a broken client's celt may be far larger than its array (the enumerator delivers only
// what it holds); the proxy would clear an array that long, so across processes celt is its length.
ULONG Celt(TCall& c) {
    const DWORD n = c.Count();
    return n == 1000 && c.env.inProcess && c.rng.OneIn(2) ? 0x7FFFFFFF : n;
}

// How many elements a Next delivered, as far as the test can trust it.
ULONG Delivered(TCall& c, int fetchedSlot, ULONG fetched, ULONG celt, std::size_t room) {
    if (FAILED(c.hr)) return 0;
    ULONG n = c.Null(fetchedSlot) ? (c.hr == S_OK ? celt : 0) : fetched;
    if (n > celt || n > room) {
        c.Fault("delivered " + std::to_string(n) + " elements for " + std::to_string(celt));
        n = 0;
    }
    return n;
}

template <class Itf, class Element, class Each>
void Next(TCall& c, REFIID iid, Element poison, Each each) {
    auto* e = On<Itf>(c, iid);
    if (!e) return;
    const ULONG celt = Celt(c);
    std::vector<Element> elements(celt >= 1 && celt <= 1000 ? celt : kEnumArray, poison);
    ULONG fetched = 0xDEADBEEF;
    c.Invoke(e, [&] { return e->Next(celt, c.In(0, elements.data()), c.In(1, &fetched)); });
    if (c.Null(0)) return;
    ULONG n = Delivered(c, 1, fetched, celt, elements.size());
    if (c.Null(1) && !c.env.inProcess) {
        // The proxy asks the server with a count of its own and clears the array first; what
        // arrived is what is not empty.
        const Element empty{};
        for (const Element& e : elements)
            if (std::memcmp(&e, &poison, sizeof poison) != 0 && std::memcmp(&e, &empty, sizeof empty) != 0) each(e);
        return;
    }
    if (c.Null(1)) {
        // Without a count only a single element may be asked for: what else arrived, the client
        // could not know of (the test finds it by the poison).
        ULONG written = 0;
        while (written < elements.size() && std::memcmp(&elements[written], &poison, sizeof poison) != 0) ++written;
        if (written > n && celt != 1)
            c.Fault("delivered " + std::to_string(written) + " elements with no count to say how many");
        n = std::max(n, written);
    }
    for (ULONG i = 0; i < n; ++i) {
        if (std::memcmp(&elements[i], &poison, sizeof poison) == 0) {
            c.Fault("element " + std::to_string(i) + " counted as delivered but left undefined");
            continue;
        }
        each(elements[i]);
    }
}

template <class Itf, const IID& Iid>
void Skip(TCall& c) {
    auto* e = On<Itf>(c, Iid);
    if (!e) return;
    const ULONG celt = c.rng.OneIn(4) ? 0xFFFFFFFF : Celt(c);
    c.Invoke(e, [&] { return e->Skip(celt); });
}

template <class Itf, const IID& Iid>
void Reset(TCall& c) {
    auto* e = On<Itf>(c, Iid);
    if (!e) return;
    c.Invoke(e, [&] { return e->Reset(); });
}

template <class Itf, const IID& Iid, TKind Kind>
void Clone(TCall& c) {
    auto* e = On<Itf>(c, Iid);
    if (!e) return;
    Itf* clone = Poison<Itf*>();
    c.Invoke(e, [&] { return e->Clone(c.In(0, &clone)); });
    c.Interface(0, clone, Kind, Iid, true, c.target->owner.lock());
}

void NextString(TCall& c) {
    Next<IEnumString>(c, IID_IEnumString, Poison<LPOLESTR>(), [&](LPOLESTR s) { c.StringEntry(s); });
}

void NextUnknown(TCall& c) {
    Next<IEnumUnknown>(c, IID_IEnumUnknown, Poison<IUnknown*>(), [&](IUnknown* u) {
        if (!u) return c.Fault("a NULL element counted as delivered");
        // The elements are groups: sometimes kept and used, most let go at once.
        if (c.rng.OneIn(3)) {
            c.world.Adopt(TKind::Group, IID_IUnknown, u, nullptr);
        } else {
            u->Release();
        }
    });
}

void NextItemAttributes(TCall& c) {
    auto* e = On<IEnumOPCItemAttributes>(c, IID_IEnumOPCItemAttributes);
    if (!e) return;
    const ULONG celt = Celt(c);
    OPCITEMATTRIBUTES* items = Poison<OPCITEMATTRIBUTES*>();
    ULONG fetched = 0xDEADBEEF;
    c.Invoke(e, [&] { return e->Next(celt, c.In(0, &items), c.In(1, &fetched)); });
    const ULONG n = c.Null(1) ? 0 : Delivered(c, 1, fetched, celt, 0xFFFFFFFF);
    if (!c.Returned(0, items, std::size_t{n} * sizeof(OPCITEMATTRIBUTES), n > 0)) return;
    for (ULONG i = 0; i < n; ++i) {
        c.StringEntry(items[i].szAccessPath);
        c.StringEntry(items[i].szItemID);
        c.BlockEntry(items[i].pBlob);
        c.Variant(items[i].vEUInfo);
    }
    c.FreeBlock(items);
}

void NextConnectionPoint(TCall& c) {
    Next<IEnumConnectionPoints>(c, IID_IEnumConnectionPoints, Poison<IConnectionPoint*>(), [&](IConnectionPoint* p) {
        if (!p) return c.Fault("a NULL element counted as delivered");
        if (c.rng.OneIn(2)) {
            c.world.Adopt(TKind::Point, IID_IConnectionPoint, p, c.target->owner.lock());
        } else {
            p->Release();
        }
    });
}

void NextConnection(TCall& c) {
    // Wine's proxy for IEnumConnections::Next hands back a count that is no count (and so loses
    // track of the references it delivers): across processes the call tells nothing of the server.
    if (!c.env.inProcess) return;
    const CONNECTDATA poison{Poison<IUnknown*>(), 0xDEADBEEF};
    Next<IEnumConnections>(c, IID_IEnumConnections, poison, [&](const CONNECTDATA& d) {
        if (d.pUnk) d.pUnk->Release();
    });
}

// ---- the client's own doings ----

// Makes a group report: every tag as an active item, a sink that answers callbacks, active at a
// rate that is due on every pass. Well-formed calls, so that the hostile ones meet callbacks.
void Subscribe(TCall& c) {
    if (!c.target) c.target = c.world.Any(TKind::Group);
    if (!c.target) return;
    TObject& group = *c.target;
    if (auto* mgt = c.world.As<IOPCItemMgt>(group, IID_IOPCItemMgt); mgt && group.items.size() < kMaxItemsPerGroup) {
        std::vector<OPCITEMDEF> defs(c.env.tagNames.size());
        for (std::size_t i = 0; i < defs.size(); ++i) {
            defs[i] = OPCITEMDEF{};
            defs[i].szItemID = const_cast<LPWSTR>(c.env.tagNames[i].c_str());
            defs[i].bActive = TRUE;
            defs[i].hClient = static_cast<OPCHANDLE>(i);
        }
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        c.Invoke(mgt, [&] { return mgt->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors); });
        if (SUCCEEDED(c.hr) && results && errors)
            for (std::size_t i = 0; i < defs.size(); ++i)
                if (errors[i] == S_OK) group.items.push_back(results[i].hServer);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
    }
    if (auto* cpc = c.world.As<IConnectionPointContainer>(group, IID_IConnectionPointContainer)) {
        IConnectionPoint* point = nullptr;
        c.Invoke(cpc, [&] { return cpc->FindConnectionPoint(IID_IOPCDataCallback, &point); });
        if (point) {
            auto p = c.world.Adopt(TKind::Point, IID_IConnectionPoint, point, c.target);
            auto* sink = new TSink(true);
            DWORD cookie = 0;
            c.Invoke(point, [&] { return point->Advise(static_cast<IOPCDataCallback*>(sink), &cookie); });
            if (c.hr == S_OK) p->cookies.push_back(cookie);
            if (c.FailedOnTheWay()) CoDisconnectObject(static_cast<IOPCDataCallback*>(sink), 0);
            sink->Release();
        }
    }
    if (auto* state = c.world.As<IOPCGroupStateMgt>(group, IID_IOPCGroupStateMgt)) {
        DWORD rate = 10, revised = 0;
        BOOL active = TRUE;
        c.Invoke(state, [&] { return state->SetState(&rate, &revised, &active, nullptr, nullptr, nullptr, nullptr); });
    }
}

void Pulse(TCall& c) {
    const uint32_t passes = 1 + c.rng.Below(10);
    c.Invoke(nullptr, [&] {
        for (uint32_t i = 0; i < passes; ++i) c.env.pulse();
        return S_OK;
    });
}

void NewServer(TCall& c) {
    IUnknown* server = nullptr;
    c.Invoke(nullptr, [&] { return c.env.createServer(&server); });
    if (SUCCEEDED(c.hr) && server) c.world.Adopt(TKind::Server, IID_IOPCServer, server, nullptr);
}

void ReleaseOne(TCall& c) { c.world.ReleaseOne(); }

// Takes every free server slot and one more, then lets them all go.
void FillEverySlot(TCall& c) {
    std::vector<IUnknown*> servers;
    for (int i = 0; i < 40; ++i) {
        IUnknown* s = Poison<IUnknown*>();
        c.Invoke(nullptr, [&] { return c.env.createServer(&s); });
        if (FAILED(c.hr)) {
            if (s != nullptr) c.Fault("a refused server object left its pointer set");
            break;
        }
        servers.push_back(s);
    }
    if (servers.size() == 40) c.Fault("40 server objects at once: no slot limit");
    for (IUnknown* s : servers) s->Release();
}

constexpr uint32_t Out(int slot) { return 1u << slot; }

// Well-formed calls that make what a row needs.
const TMethod kPrepare{"prepare", TKind::World, 0, 0, 0, nullptr};

}  // namespace

const std::vector<TMethod>& Methods() {
    static const std::vector<TMethod> methods = {
        {"IOPCServer::AddGroup", TKind::Server, 6, Out(3) | Out(4) | Out(5), 6, AddGroup},
        {"IOPCServer::GetErrorString", TKind::Server, 1, Out(0), 2, ServerErrorString},
        {"IOPCServer::GetGroupByName", TKind::Server, 2, Out(1), 3, GetGroupByName},
        {"IOPCServer::GetStatus", TKind::Server, 1, Out(0), 2, GetStatus},
        {"IOPCServer::RemoveGroup", TKind::Server, 0, 0, 4, RemoveGroup},
        {"IOPCServer::CreateGroupEnumerator", TKind::Server, 1, Out(0), 3, CreateGroupEnumerator},
        {"IOPCCommon::SetLocaleID", TKind::Server, 0, 0, 1, SetLocaleID},
        {"IOPCCommon::GetLocaleID", TKind::Server, 1, Out(0), 1, GetLocaleID},
        {"IOPCCommon::QueryAvailableLocaleIDs", TKind::Server, 2, Out(0) | Out(1), 1, QueryAvailableLocaleIDs},
        {"IOPCCommon::GetErrorString", TKind::Server, 1, Out(0), 2, CommonErrorString},
        {"IOPCCommon::SetClientName", TKind::Server, 1, 0, 1, SetClientName},
        {"IOPCItemProperties::QueryAvailableProperties", TKind::Server, 5, Out(1) | Out(2) | Out(3) | Out(4), 2,
         QueryAvailableProperties},
        {"IOPCItemProperties::GetItemProperties", TKind::Server, 4, Out(2) | Out(3), 3, GetItemProperties},
        {"IOPCItemProperties::LookupItemIDs", TKind::Server, 4, Out(2) | Out(3), 3, LookupItemIDs},
        {"IOPCBrowseServerAddressSpace::QueryOrganization", TKind::Server, 1, Out(0), 1, QueryOrganization},
        {"IOPCBrowseServerAddressSpace::ChangeBrowsePosition", TKind::Server, 1, 0, 1, ChangeBrowsePosition},
        {"IOPCBrowseServerAddressSpace::BrowseOPCItemIDs", TKind::Server, 2, Out(1), 3, BrowseOPCItemIDs},
        {"IOPCBrowseServerAddressSpace::GetItemID", TKind::Server, 2, Out(1), 2, GetItemID},
        {"IOPCBrowseServerAddressSpace::BrowseAccessPaths", TKind::Server, 2, Out(1), 1, BrowseAccessPaths},
        {"IConnectionPointContainer::EnumConnectionPoints (server)", TKind::Server, 1, Out(0), 1, EnumConnectionPoints},
        {"IConnectionPointContainer::FindConnectionPoint (server)", TKind::Server, 1, Out(0), 2, FindConnectionPoint},
        {"IDispatch::GetTypeInfoCount", TKind::Server, 1, Out(0), 1, GetTypeInfoCount},
        {"IDispatch::GetTypeInfo", TKind::Server, 1, Out(0), 1, GetTypeInfo},
        {"IDispatch::GetIDsOfNames", TKind::Server, 2, Out(1), 1, GetIDsOfNames},
        {"IDispatch::Invoke", TKind::Server, 4, 0, 2, DispatchInvoke},
        {"IProvideClassInfo::GetClassInfo (server)", TKind::Server, 1, Out(0), 1, GetClassInfo},
        {"IOPCGroupStateMgt::GetState", TKind::Group, 8,
         Out(0) | Out(1) | Out(2) | Out(3) | Out(4) | Out(5) | Out(6) | Out(7), 3, GetState},
        {"IOPCGroupStateMgt::SetState", TKind::Group, 7, Out(1), 4, SetState},
        {"IOPCGroupStateMgt::SetName", TKind::Group, 1, 0, 2, SetName},
        {"IOPCGroupStateMgt::CloneGroup", TKind::Group, 2, Out(1), 2, CloneGroup},
        {"IOPCItemMgt::AddItems", TKind::Group, 3, Out(1) | Out(2), 8, AddItems},
        {"IOPCItemMgt::ValidateItems", TKind::Group, 3, Out(1) | Out(2), 3, ValidateItems},
        {"IOPCItemMgt::RemoveItems", TKind::Group, 2, Out(1), 5, RemoveItems},
        {"IOPCItemMgt::SetActiveState", TKind::Group, 2, Out(1), 3, SetActiveState},
        {"IOPCItemMgt::SetClientHandles", TKind::Group, 3, Out(2), 2, SetClientHandles},
        {"IOPCItemMgt::SetDatatypes", TKind::Group, 3, Out(2), 3, SetDatatypes},
        {"IOPCItemMgt::CreateEnumerator", TKind::Group, 1, Out(0), 2, CreateEnumerator},
        {"IOPCSyncIO::Read", TKind::Group, 3, Out(1) | Out(2), 5, SyncRead},
        {"IOPCSyncIO::Write", TKind::Group, 3, Out(2), 5, SyncWrite},
        {"IOPCAsyncIO2::Read", TKind::Group, 3, Out(1) | Out(2), 5, AsyncRead},
        {"IOPCAsyncIO2::Write", TKind::Group, 4, Out(2) | Out(3), 5, AsyncWrite},
        {"IOPCAsyncIO2::Refresh2", TKind::Group, 1, Out(0), 4, Refresh2},
        {"IOPCAsyncIO2::Cancel2", TKind::Group, 0, 0, 4, Cancel2},
        {"IOPCAsyncIO2::SetEnable", TKind::Group, 0, 0, 2, SetEnable},
        {"IOPCAsyncIO2::GetEnable", TKind::Group, 1, Out(0), 1, GetEnable},
        {"IConnectionPointContainer::EnumConnectionPoints (group)", TKind::Group, 1, Out(0), 1, EnumConnectionPoints},
        {"IConnectionPointContainer::FindConnectionPoint (group)", TKind::Group, 1, Out(0), 3, FindConnectionPoint},
        {"IProvideClassInfo::GetClassInfo (group)", TKind::Group, 1, Out(0), 1, GetClassInfo},
        {"IConnectionPoint::GetConnectionInterface", TKind::Point, 1, Out(0), 1, GetConnectionInterface},
        {"IConnectionPoint::GetConnectionPointContainer", TKind::Point, 1, Out(0), 1, GetConnectionPointContainer},
        {"IConnectionPoint::Advise", TKind::Point, 2, Out(1), 5, Advise},
        {"IConnectionPoint::Unadvise", TKind::Point, 0, 0, 5, Unadvise},
        {"IConnectionPoint::EnumConnections", TKind::Point, 1, Out(0), 1, EnumConnections},
        {"IEnumString::Next", TKind::EnumString, 2, Out(0) | Out(1), 2, NextString},
        {"IEnumString::Skip", TKind::EnumString, 0, 0, 1, Skip<IEnumString, IID_IEnumString>},
        {"IEnumString::Reset", TKind::EnumString, 0, 0, 1, Reset<IEnumString, IID_IEnumString>},
        {"IEnumString::Clone", TKind::EnumString, 1, Out(0), 1, Clone<IEnumString, IID_IEnumString, TKind::EnumString>},
        {"IEnumUnknown::Next", TKind::EnumUnknown, 2, Out(0) | Out(1), 2, NextUnknown},
        {"IEnumUnknown::Skip", TKind::EnumUnknown, 0, 0, 1, Skip<IEnumUnknown, IID_IEnumUnknown>},
        {"IEnumUnknown::Reset", TKind::EnumUnknown, 0, 0, 1, Reset<IEnumUnknown, IID_IEnumUnknown>},
        {"IEnumUnknown::Clone", TKind::EnumUnknown, 1, Out(0), 1,
         Clone<IEnumUnknown, IID_IEnumUnknown, TKind::EnumUnknown>},
        {"IEnumOPCItemAttributes::Next", TKind::EnumItemAttributes, 2, Out(0) | Out(1), 2, NextItemAttributes},
        {"IEnumOPCItemAttributes::Skip", TKind::EnumItemAttributes, 0, 0, 1,
         Skip<IEnumOPCItemAttributes, IID_IEnumOPCItemAttributes>},
        {"IEnumOPCItemAttributes::Reset", TKind::EnumItemAttributes, 0, 0, 1,
         Reset<IEnumOPCItemAttributes, IID_IEnumOPCItemAttributes>},
        {"IEnumOPCItemAttributes::Clone", TKind::EnumItemAttributes, 1, Out(0), 1,
         Clone<IEnumOPCItemAttributes, IID_IEnumOPCItemAttributes, TKind::EnumItemAttributes>},
        {"IEnumConnectionPoints::Next", TKind::EnumConnectionPoints, 2, Out(0) | Out(1), 1, NextConnectionPoint},
        {"IEnumConnectionPoints::Skip", TKind::EnumConnectionPoints, 0, 0, 1,
         Skip<IEnumConnectionPoints, IID_IEnumConnectionPoints>},
        {"IEnumConnectionPoints::Reset", TKind::EnumConnectionPoints, 0, 0, 1,
         Reset<IEnumConnectionPoints, IID_IEnumConnectionPoints>},
        {"IEnumConnectionPoints::Clone", TKind::EnumConnectionPoints, 1, Out(0), 1,
         Clone<IEnumConnectionPoints, IID_IEnumConnectionPoints, TKind::EnumConnectionPoints>},
        {"IEnumConnections::Next", TKind::EnumConnections, 2, Out(0) | Out(1), 1, NextConnection},
        {"IEnumConnections::Skip", TKind::EnumConnections, 0, 0, 1, Skip<IEnumConnections, IID_IEnumConnections>},
        {"IEnumConnections::Reset", TKind::EnumConnections, 0, 0, 1, Reset<IEnumConnections, IID_IEnumConnections>},
        {"IEnumConnections::Clone", TKind::EnumConnections, 1, Out(0), 1,
         Clone<IEnumConnections, IID_IEnumConnections, TKind::EnumConnections>},
        {"ISupportErrorInfo::InterfaceSupportsErrorInfo", TKind::World, 0, 0, 1, InterfaceSupportsErrorInfo},
        {"IUnknown::QueryInterface", TKind::World, 1, 0, 4, QueryInterface},
        {"IUnknown::AddRef and Release", TKind::World, 0, 0, 2, AddRefRelease},
        {"client: update passes", TKind::World, 0, 0, 10, Pulse},
        {"client: subscribe a group", TKind::World, 0, 0, 5, Subscribe},
        {"client: new server object", TKind::World, 0, 0, 2, NewServer},
        {"client: Release", TKind::World, 0, 0, 7, ReleaseOne},
        {"client: every server slot", TKind::World, 0, 0, 0, FillEverySlot},
    };
    return methods;
}

// ---- well-formed preparation ----

namespace {

std::shared_ptr<TObject> PrepareGroup(TRun& run) {
    auto server = Prepare(run, TKind::Server);
    if (!server) return nullptr;
    TCall c(run, kPrepare, server, -1);
    auto* s = c.world.As<IOPCServer>(*server, IID_IOPCServer);
    if (!s) return nullptr;
    static unsigned serial = 0;
    const std::wstring name = L"prepared" + std::to_wstring(++serial);
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    IUnknown* unk = nullptr;
    c.Invoke(s, [&] {
        return s->AddGroup(name.c_str(), TRUE, 10, 1, nullptr, nullptr, 0x409, &handle, &revised, IID_IOPCItemMgt,
                           &unk);
    });
    if (FAILED(c.hr) || !unk) return nullptr;
    auto group = c.world.Adopt(TKind::Group, IID_IOPCItemMgt, unk, server);
    group->handle = handle;
    NoteGroupName(c.world, name.c_str());
    c.target = group;
    Subscribe(c);
    return group;
}

}  // namespace

std::shared_ptr<TObject> Prepare(TRun& run, TKind kind) {
    if (auto existing = run.world.Any(kind)) return existing;
    switch (kind) {
        case TKind::Server: {
            TCall c(run, kPrepare, nullptr, -1);
            NewServer(c);
            return run.world.Any(TKind::Server);
        }
        case TKind::Group:
            return PrepareGroup(run);
        case TKind::World:
            return nullptr;
        default:
            break;
    }
    // Enumerators and points come from the server object or a group, through their own rows.
    const bool fromGroup = kind == TKind::EnumItemAttributes || (kind == TKind::Point && run.rng.OneIn(2));
    auto source = Prepare(run, fromGroup ? TKind::Group : TKind::Server);
    if (!source) return nullptr;
    TCall c(run, kPrepare, source, -1);
    switch (kind) {
        case TKind::EnumString:
            BrowseOPCItemIDs(c);
            break;
        case TKind::EnumUnknown:
            CreateGroupEnumerator(c);
            break;
        case TKind::EnumItemAttributes:
            CreateEnumerator(c);
            break;
        case TKind::EnumConnectionPoints:
            EnumConnectionPoints(c);
            break;
        case TKind::EnumConnections:
            if (auto point = Prepare(run, TKind::Point)) {
                TCall e(run, kPrepare, point, -1);
                EnumConnections(e);
            }
            break;
        case TKind::Point:
            FindConnectionPoint(c);
            break;
        default:
            break;
    }
    return run.world.Any(kind);
}

}  // namespace tw::opc::hostile
