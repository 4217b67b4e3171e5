#include "HostileCall.h"

#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <cwctype>
#include <limits>
#include <string>

#include "HostileMemory.h"
#include "HostileObjects.h"
#include "Tarnowick.h"
#include "opc/ComObject.h"
#include "opc/Guids.h"

namespace tw::opc::hostile {
namespace {

const std::wstring& Huge() {
    static const std::wstring text(1000000, L'A');
    return text;
}

const std::wstring& HugeStars() {
    static const std::wstring text(1000000, L'*');
    return text;
}

std::string Slot(int slot) { return "[out] pointer " + std::to_string(slot); }

}  // namespace

// ---- world ----

TWorld::~TWorld() { ReleaseEverything(); }

std::shared_ptr<TObject> TWorld::Any(TKind kind) {
    std::vector<std::shared_ptr<TObject>> of;
    for (const auto& o : objects_)
        if (o->kind == kind) of.push_back(o);
    if (of.empty()) return nullptr;
    return of[run_.rng.Below(static_cast<uint32_t>(of.size()))];
}

std::shared_ptr<TObject> TWorld::AnyObject() {
    if (objects_.empty()) return nullptr;
    return objects_[run_.rng.Below(static_cast<uint32_t>(objects_.size()))];
}

std::vector<std::shared_ptr<TObject>> TWorld::All(TKind kind) const {
    std::vector<std::shared_ptr<TObject>> of;
    for (const auto& o : objects_)
        if (o->kind == kind) of.push_back(o);
    return of;
}

std::shared_ptr<TObject> TWorld::SubscribedGroup() {
    std::vector<std::shared_ptr<TObject>> groups;
    for (const auto& o : objects_) {
        if (o->kind != TKind::Point || o->cookies.empty()) continue;
        auto owner = o->owner.lock();
        if (owner && owner->kind == TKind::Group && !owner->refs.empty()) groups.push_back(owner);
    }
    if (groups.empty()) return nullptr;
    return groups[run_.rng.Below(static_cast<uint32_t>(groups.size()))];
}

void TWorld::Trim(TKind kind, std::size_t cap) {
    while (Count(kind) > cap) {
        std::shared_ptr<TObject> o = Any(kind);
        Drop(o);
        for (auto& r : o->refs) {
            run_.Counted();
            r.second->Release();
        }
        o->refs.clear();
    }
}

std::size_t TWorld::Count(TKind kind) const {
    return static_cast<std::size_t>(
        std::count_if(objects_.begin(), objects_.end(), [kind](const auto& o) { return o->kind == kind; }));
}

std::shared_ptr<TObject> TWorld::Adopt(TKind kind, REFIID iid, IUnknown* itf, const std::shared_ptr<TObject>& owner) {
    auto o = std::make_shared<TObject>();
    o->kind = kind;
    o->refs.emplace_back(iid, itf);
    o->owner = owner;
    objects_.push_back(o);
    return o;
}

IUnknown* TWorld::Interface(TObject& object, REFIID iid) {
    for (const auto& r : object.refs)
        if (IsEqualIID(r.first, iid)) return r.second;
    if (object.refs.empty()) return nullptr;
    IUnknown* itf = nullptr;
    run_.Counted();
    if (FAILED(object.refs.front().second->QueryInterface(iid, reinterpret_cast<void**>(&itf))) || !itf) return nullptr;
    object.refs.emplace_back(iid, itf);
    return itf;
}

void TWorld::Drop(const std::shared_ptr<TObject>& object) {
    objects_.erase(std::remove(objects_.begin(), objects_.end(), object), objects_.end());
}

void TWorld::ReleaseOne() {
    if (objects_.empty()) return;
    std::shared_ptr<TObject> o = objects_[run_.rng.Below(static_cast<uint32_t>(objects_.size()))];
    if (!o->refs.empty()) {
        const std::size_t i = run_.rng.Below(static_cast<uint32_t>(o->refs.size()));
        IUnknown* itf = o->refs[i].second;
        o->refs.erase(o->refs.begin() + static_cast<std::ptrdiff_t>(i));
        run_.Counted();
        itf->Release();
    }
    if (o->refs.empty()) Drop(o);
}

void TWorld::ReleaseEverything() {
    while (!objects_.empty()) ReleaseOne();
}

OPCHANDLE TWorld::ItemHandle(const TObject* group) {
    auto other = Any(TKind::Group);
    switch (run_.rng.Below(10)) {
        case 0:
        case 1:
        case 2:
        case 3:
            if (group && !group->items.empty()) return run_.rng.Pick(group->items);
            break;
        case 4:
            if (group && !group->staleItems.empty()) return run_.rng.Pick(group->staleItems);
            break;
        case 5:
        case 6:  // another group's, maybe another client's
            if (other && !other->items.empty()) return run_.rng.Pick(other->items);
            break;
        case 7:
            return 0;
        case 8:
            return 0xFFFFFFFF;
        default:
            break;
    }
    return static_cast<OPCHANDLE>(run_.rng.Next());
}

OPCHANDLE TWorld::GroupHandle(const TObject* server) {
    std::vector<OPCHANDLE> own, others;
    for (const auto& o : objects_) {
        if (o->kind != TKind::Group || o->handle == 0) continue;
        (o->owner.lock().get() == server ? own : others).push_back(o->handle);
    }
    switch (run_.rng.Below(6)) {
        case 0:
        case 1:
            if (!own.empty()) return run_.rng.Pick(own);
            break;
        case 2:
            if (!goneGroups.empty()) return run_.rng.Pick(goneGroups);
            break;
        case 3:
            if (!others.empty()) return run_.rng.Pick(others);
            break;
        case 4:
            return 0;
        default:
            break;
    }
    return static_cast<OPCHANDLE>(run_.rng.Below(64));
}

DWORD TWorld::Cookie(const TObject* point) {
    auto other = Any(TKind::Point);
    switch (run_.rng.Below(7)) {
        case 0:
        case 1:
            if (point && !point->cookies.empty()) return run_.rng.Pick(point->cookies);
            break;
        case 2:
        case 3:
            if (point && !point->staleCookies.empty()) return run_.rng.Pick(point->staleCookies);
            break;
        case 4:
            if (other && !other->cookies.empty()) return run_.rng.Pick(other->cookies);
            break;
        case 5:
            return 0;
        default:
            break;
    }
    return run_.rng.OneIn(2) ? 0xFFFFFFFF : run_.rng.Below(8);
}

DWORD TWorld::CancelId() {
    if (!cancelIds.empty() && !run_.rng.OneIn(4)) return run_.rng.Pick(cancelIds);
    return run_.rng.OneIn(2) ? 0 : static_cast<DWORD>(run_.rng.Next());
}

const std::wstring& TWorld::GroupName() {
    static const std::wstring none;
    return groupNames.empty() ? none : run_.rng.Pick(groupNames);
}

// ---- bag ----

TValueBag::~TValueBag() {
    for (BSTR b : bstrs_) SysFreeString(b);
    for (SAFEARRAY* a : arrays_) SafeArrayDestroy(a);
    for (IUnknown* o : objects_) o->Release();
    for (void* r : records_) HeapFree(GetProcessHeap(), 0, r);
}

void TValueBag::DisconnectObjects() {
    for (IUnknown* o : objects_) CoDisconnectObject(o, 0);
}

BSTR TValueBag::Bstr(const wchar_t* text, UINT length) {
    BSTR b = SysAllocStringLen(text, length);
    bstrs_.push_back(b);
    return b;
}

void* TValueBag::Record() {
    void* r = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, TRecordInfo::kSize);
    records_.push_back(r);
    return r;
}

const wchar_t* TValueBag::Text(std::wstring text) {
    texts_.push_back(std::make_unique<std::wstring>(std::move(text)));
    return texts_.back()->c_str();
}

// ---- call ----

TCall::TCall(TRun& run, const TMethod& method, std::shared_ptr<TObject> t, int nullSlot)
    : rng(run.rng),
      world(run.world),
      env(run.env),
      target(std::move(t)),
      run_(run),
      method_(method.name),
      outs_(method.outs),
      nullSlot_(nullSlot) {}

bool TCall::Null(int slot) {
    if (!env.inProcess && slot < 32 && (outs_ & (1u << slot))) return false;
    if (nullSlot_ >= 0) return slot == nullSlot_;
    if (nullSlot_ == -1 || slot >= 32) return false;
    const uint32_t bit = 1u << slot;
    if (!(decided_ & bit)) {
        decided_ |= bit;
        if (rng.OneIn(8)) nulls_ |= bit;
    }
    return (nulls_ & bit) != 0;
}

void TCall::Fault(const std::string& text) { run_.Fault(method_, text); }

bool TCall::FailedOnTheWay() const {
    return !env.inProcess && (RefusedByProxy() || HRESULT_FACILITY(hr) == FACILITY_RPC);
}

constexpr ULONGLONG kSlowCallMs = 25000;

bool TCall::RefusedByProxy() const {
    const unsigned code = static_cast<unsigned>(hr) & 0xFFFF;
    return !env.inProcess && (static_cast<unsigned>(hr) & 0xFFFF0000u) == 0x80070000u && code >= 1700 && code < 1800;
}

void TCall::Begin(IUnknown* itf) {
    run_.Counted();
    if (run_.depth++ == 0) {
        run_.current = method_;
        run_.callStarted = GetTickCount64();
        if (run_.trace) std::fprintf(stderr, "%zu %s ...\n", run_.result.calls, method_);
    }
    if (itf) itf->AddRef();
}

void TCall::End(IUnknown* itf) {
    if (itf) itf->Release();
    if (FailedOnTheWay()) bag.DisconnectObjects();
    if (--run_.depth == 0) {
        const ULONGLONG took = GetTickCount64() - run_.callStarted;
        run_.callStarted = 0;
        // A call may wait behind a write of 1,000 items to the live device, which takes 10 s by itself
        // (each on-demand write is followed by a 10 ms pause); beyond that, slowness is a fault.
        if (took > kSlowCallMs) Fault("took " + std::to_string(took) + " ms");
        if (run_.trace)
            std::fprintf(stderr, "%zu %s -> 0x%08lX, %llu ms, %ld objects\n", run_.result.calls, method_,
                         static_cast<unsigned long>(hr), static_cast<unsigned long long>(took), LiveComObjects());
    }
}

DWORD TCall::Count() {
    switch (rng.Below(10)) {
        case 0:
        case 1:
            return 0;
        case 2:
        case 3:
        case 4:
            return 1;
        case 5:
        case 6:
            return 2 + rng.Below(6);
        case 7:
            return 1000;
        default:
            return env.inProcess ? 0xFFFFFFFF : 1 + rng.Below(3);
    }
}

std::size_t TCall::Entries(DWORD count) {
    if (count == 0) return 1;          // a real array, with a count of 0
    return count <= 1000 ? count : 1;  // 0xFFFFFFFF: the short array of a broken client
}

std::vector<OPCHANDLE> TCall::ItemHandles(std::size_t n) {
    std::vector<OPCHANDLE> handles(n);
    for (OPCHANDLE& h : handles) h = world.ItemHandle(target.get());
    return handles;
}

const wchar_t* TCall::Text() {
    static const wchar_t* const kOdd[] = {L"",
                                          L"",
                                          L"\xD800 lone surrogate",
                                          L"\xFFFF\x0001\x001F",
                                          L"%s%n%x",
                                          L"*",
                                          L"H*",
                                          L"[",
                                          L"[!]",
                                          L"[a-",
                                          L"[-z]",
                                          L"[!a-z]*",
                                          L"?",
                                          L"**********"};
    const std::wstring tag = env.tagNames.empty() ? L"X" : rng.Pick(env.tagNames);
    switch (rng.Below(13)) {
        case 0:
        case 1:
        case 2:
            if (!world.GroupName().empty()) return world.GroupName().c_str();
            [[fallthrough]];
        case 3:
        case 4:
            if (!env.tagNames.empty()) return rng.Pick(env.tagNames).c_str();
            return L"";
        case 5:
            if (rng.OneIn(6)) return rng.OneIn(2) ? Huge().c_str() : HugeStars().c_str();
            return bag.Text(std::wstring(300, L'x'));
        case 6:
            return bag.Text(std::wstring(31, L'*') + L"[a-z]");
        case 7: {
            std::wstring name;
            for (uint32_t n = 1 + rng.Below(12); n > 0; --n) name += static_cast<wchar_t>(L' ' + rng.Below(95));
            return bag.Text(name);
        }
        case 8: {  // a tag's name in other letters, with a blank, or with a NUL and more behind it
            std::wstring alike = tag;
            switch (rng.Below(3)) {
                case 0:
                    for (wchar_t& ch : alike) ch = static_cast<wchar_t>(std::towlower(ch));
                    break;
                case 1:
                    alike += L' ';
                    break;
                default:
                    alike += std::wstring(L"\0hidden", 7);
                    break;
            }
            return bag.Text(alike);
        }
        default:
            return rng.Pick(kOdd);
    }
}

const wchar_t* TCall::ItemId() {
    if (!env.tagNames.empty() && !rng.OneIn(3)) return rng.Pick(env.tagNames).c_str();
    return Text();
}

IID TCall::Iid() {
    static const IID kIids[] = {IID_IUnknown,
                                IID_IOPCServer,
                                IID_IOPCCommon,
                                IID_IOPCItemProperties,
                                IID_IOPCBrowseServerAddressSpace,
                                IID_IConnectionPointContainer,
                                IID_IOPCItemMgt,
                                IID_IOPCGroupStateMgt,
                                IID_IOPCSyncIO,
                                IID_IOPCAsyncIO2,
                                IID_IOPCGroup,
                                IID_IEnumString,
                                IID_IEnumUnknown,
                                IID_IEnumOPCItemAttributes,
                                CLSID_OPCEnumerators,
                                IID_IDispatch,
                                IID_IDA2,
                                IID_IProvideClassInfo,
                                IID_ISupportErrorInfo,
                                IID_IConnectionPoint,
                                IID_IOPCShutdown,
                                IID_IOPCDataCallback,
                                IID_IDataObject,
                                IID_IMarshal,
                                IID_NULL};
    if (rng.OneIn(8)) {
        IID random;
        const uint64_t a = rng.Next(), b = rng.Next();
        std::memcpy(&random, &a, 8);
        std::memcpy(reinterpret_cast<char*>(&random) + 8, &b, 8);
        return random;
    }
    return rng.Pick(kIids);
}

DWORD TCall::Lcid() {
    static const DWORD kLcids[] = {0, 0x400, 0x800, 0x409, 0x407, 0xFFFFFFFF};
    return rng.OneIn(4) ? static_cast<DWORD>(rng.Next()) : rng.Pick(kLcids);
}

HRESULT TCall::Code() {
    static const HRESULT kCodes[] = {S_OK,
                                     S_FALSE,
                                     E_FAIL,
                                     E_INVALIDARG,
                                     E_OUTOFMEMORY,
                                     E_NOINTERFACE,
                                     static_cast<HRESULT>(0xC0040004),
                                     static_cast<HRESULT>(0xC004000C),
                                     static_cast<HRESULT>(0x0004000D),
                                     static_cast<HRESULT>(0x80070002),
                                     static_cast<HRESULT>(0x800706BA),
                                     static_cast<HRESULT>(0xFFFFFFFF)};
    return rng.OneIn(3) ? static_cast<HRESULT>(rng.Next()) : rng.Pick(kCodes);
}

DWORD TCall::Rate() {
    static const DWORD kRates[] = {0, 1, 10, 100, 1000, 0xFFFFFFFF};
    return rng.OneIn(5) ? static_cast<DWORD>(rng.Next()) : rng.Pick(kRates);
}

FLOAT TCall::Deadband() {
    static const FLOAT kBands[] = {0.0f,
                                   50.0f,
                                   100.0f,
                                   -1.0f,
                                   101.0f,
                                   std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   -0.0f,
                                   std::numeric_limits<float>::denorm_min()};
    return rng.Pick(kBands);
}

LONG TCall::Bias() {
    static const LONG kBiases[] = {0, 60, -720, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()};
    return rng.OneIn(4) ? static_cast<LONG>(rng.Next()) : rng.Pick(kBiases);
}

BOOL TCall::Flag() {
    static const BOOL kFlags[] = {TRUE, FALSE, 5, -1, static_cast<BOOL>(0x80000000)};
    return rng.Pick(kFlags);
}

DWORD TCall::Source() {
    static const DWORD kSources[] = {OPC_DS_CACHE, OPC_DS_DEVICE, 0, 3, 0xFFFFFFFF};
    return rng.Pick(kSources);
}

VARTYPE TCall::Type() {
    static const VARTYPE kTypes[] = {VT_EMPTY,
                                     VT_I2,
                                     VT_I4,
                                     VT_R4,
                                     VT_R8,
                                     VT_BSTR,
                                     VT_BOOL,
                                     VT_UI2,
                                     VT_I1,
                                     VT_UI4,
                                     VT_DATE,
                                     VT_CY,
                                     VT_DECIMAL,
                                     VT_DISPATCH,
                                     VT_UNKNOWN,
                                     VT_VARIANT,
                                     VT_RECORD,
                                     VT_LPWSTR,
                                     VT_CLSID,
                                     73,
                                     VT_ARRAY | VT_I4,
                                     VT_BYREF | VT_I4,
                                     VT_VECTOR | VT_I4,
                                     0xFFFF};
    return rng.OneIn(5) ? static_cast<VARTYPE>(rng.Next()) : rng.Pick(kTypes);
}

std::vector<VARIANT> TCall::Values(std::size_t n) {
    std::vector<VARIANT> values(n);
    for (VARIANT& v : values) Value(v);
    return values;
}

// Every VARTYPE with something plausible inside, and the shapes a broken client sends: arrays,
// references, objects, records, types that do not exist.
void TCall::Value(VARIANT& v) {
    std::memset(&v, 0, sizeof v);
    uint32_t pick = rng.Below(40);
    // A proxy cannot marshal records without their type library, types that are no VARIANT
    // content, nor types that do not exist: across processes those never reach the server.
    if (!env.inProcess && (pick == 13 || (pick >= 24 && pick <= 26))) pick = 2;
    switch (pick) {
        case 0:
            v.vt = VT_EMPTY;
            return;
        case 1:
            v.vt = VT_NULL;
            return;
        case 2:
            v.vt = VT_I4;
            v.lVal = rng.OneIn(2) ? static_cast<LONG>(rng.Below(65536)) : static_cast<LONG>(rng.Next());
            return;
        case 3:
            v.vt = VT_I2;
            v.iVal = static_cast<SHORT>(rng.Next());
            return;
        case 4: {
            static const float kR4[] = {1.5f,
                                        -0.0f,
                                        65535.0f,
                                        65536.0f,
                                        std::numeric_limits<float>::quiet_NaN(),
                                        std::numeric_limits<float>::infinity()};
            v.vt = VT_R4;
            v.fltVal = rng.Pick(kR4);
            return;
        }
        case 5: {
            static const double kR8[] = {5.0,
                                         -1.0,
                                         1e300,
                                         -1e300,
                                         std::numeric_limits<double>::quiet_NaN(),
                                         -std::numeric_limits<double>::infinity(),
                                         65535.4999};
            v.vt = VT_R8;
            v.dblVal = rng.Pick(kR8);
            return;
        }
        case 6:
            v.vt = VT_CY;
            v.cyVal.int64 = static_cast<LONGLONG>(rng.Next());
            return;
        case 7:
            v.vt = VT_DATE;
            v.date = rng.OneIn(2) ? 45000.5 : std::numeric_limits<double>::quiet_NaN();
            return;
        case 8:
        case 9: {
            static const wchar_t* const kTexts[] = {L"12", L"70000", L"-1", L"abc", L"", L"1e400", L"0x10", L" 7 "};
            v.vt = VT_BSTR;
            const wchar_t* t = rng.Pick(kTexts);
            v.bstrVal = bag.Bstr(t, static_cast<UINT>(wcslen(t)));
            return;
        }
        case 10:
            v.vt = VT_BSTR;
            switch (rng.Below(3)) {
                case 0:
                    v.bstrVal = nullptr;
                    return;
                case 1:
                    v.bstrVal = bag.Bstr(L"12\0 34", 6);
                    return;  // an embedded NUL
                default:
                    v.bstrVal = bag.Bstr(Huge().c_str(), static_cast<UINT>(Huge().size()));
                    return;
            }
        case 11: {
            v.vt = VT_DISPATCH;
            if (rng.OneIn(4)) return;  // a NULL object
            auto* o = new TValueObject(static_cast<TValueObject::TMode>(rng.Below(4)));
            bag.Hold(static_cast<IDispatch*>(o));
            v.pdispVal = o;
            return;
        }
        case 12: {
            v.vt = VT_UNKNOWN;
            if (rng.OneIn(4)) return;
            IUnknown* o = rng.OneIn(2)
                              ? static_cast<IUnknown*>(static_cast<IDispatch*>(new TValueObject(TValueObject::Number)))
                              : static_cast<IUnknown*>(static_cast<IOPCDataCallback*>(new TSink(true)));
            bag.Hold(o);
            v.punkVal = o;
            return;
        }
        case 13:
            v.vt = VT_RECORD;
            if (rng.OneIn(3)) return;  // no record and no record information
            {
                auto* info = new TRecordInfo;
                bag.Hold(static_cast<IUnknown*>(info));
                v.pRecInfo = info;
                v.pvRecord = bag.Record();
            }
            return;
        case 14:
            v.vt = VT_ERROR;
            v.scode = Code();
            return;
        case 15:
            v.vt = VT_BOOL;
            v.boolVal = rng.OneIn(2) ? VARIANT_TRUE : static_cast<VARIANT_BOOL>(rng.Next());
            return;
        case 16:
            v.vt = VT_DECIMAL;
            v.decVal.Lo64 = rng.Next();
            v.decVal.scale = static_cast<BYTE>(rng.Below(40));  // above 28 is no decimal
            v.decVal.sign = rng.OneIn(2) ? 0 : 0x80;
            v.vt = VT_DECIMAL;  // the decimal overlays vt: set it last
            return;
        case 17:
            v.vt = VT_I1;
            v.cVal = static_cast<CHAR>(rng.Next());
            return;
        case 18:
            v.vt = VT_UI1;
            v.bVal = static_cast<BYTE>(rng.Next());
            return;
        case 19:
            v.vt = VT_UI2;
            v.uiVal = static_cast<USHORT>(rng.Next());
            return;
        case 20:
            v.vt = VT_UI4;
            v.ulVal = static_cast<ULONG>(rng.Next());
            return;
        case 21:
            v.vt = VT_I8;
            v.llVal = static_cast<LONGLONG>(rng.Next());
            return;
        case 22:
            v.vt = VT_UI8;
            v.ullVal = rng.Next();
            return;
        case 23:
            v.vt = rng.OneIn(2) ? VT_INT : VT_UINT;
            v.intVal = static_cast<INT>(rng.Next());
            return;
        case 24: {  // types that are no VARIANT content, the pointer ones pointing nowhere
            static const VARTYPE kNotVariants[] = {VT_VARIANT,       VT_VOID,        VT_HRESULT,     VT_PTR,
                                                   VT_SAFEARRAY,     VT_CARRAY,      VT_USERDEFINED, VT_LPSTR,
                                                   VT_LPWSTR,        VT_INT_PTR,     VT_UINT_PTR,    VT_FILETIME,
                                                   VT_BLOB,          VT_STREAM,      VT_STORAGE,     VT_STREAMED_OBJECT,
                                                   VT_STORED_OBJECT, VT_BLOB_OBJECT, VT_CF,          VT_CLSID};
            v.vt = rng.Pick(kNotVariants);
            return;
        }
        case 25:
        case 26: {
            static const VARTYPE kUndefined[] = {73,
                                                 100,
                                                 0x0FFF,
                                                 0x7FFF,
                                                 0xFFFF,
                                                 VT_RESERVED | VT_I4,
                                                 VT_VECTOR | VT_I4,
                                                 VT_ARRAY | VT_BYREF | VT_VARIANT};
            v.vt = rng.OneIn(3) ? static_cast<VARTYPE>(rng.Next()) : rng.Pick(kUndefined);
            if (v.vt & (VT_ARRAY | VT_BYREF)) v.vt = 0x7FFF;  // no pointer to chase behind it
            return;
        }
        case 27:
        case 28: {
            v.vt = VT_ARRAY | VT_I4;
            if (rng.OneIn(4)) return;  // a NULL array
            const ULONG n = rng.OneIn(4) ? 1000 : 1 + rng.Below(4);
            SAFEARRAY* a = SafeArrayCreateVector(VT_I4, 0, n);
            bag.Hold(a);
            v.parray = a;
            return;
        }
        case 29: {
            v.vt = VT_ARRAY | VT_BSTR;
            SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 0, 2);
            bag.Hold(a);
            v.parray = a;
            return;
        }
        case 30:
            v.vt = VT_BYREF | VT_I4;
            v.plVal = bag.Keep<LONG>(static_cast<LONG>(rng.Below(70000)));
            return;
        case 31: {
            v.vt = VT_BYREF | VT_VARIANT;
            VARIANT inner;
            VariantInit(&inner);
            inner.vt = VT_I4;
            inner.lVal = 5;
            v.pvarVal = bag.Keep<VARIANT>(inner);
            return;
        }
        case 32:
            v.vt = VT_BYREF | VT_BSTR;
            v.pbstrVal = bag.Keep<BSTR>(bag.Bstr(L"9", 1));
            return;
        case 33:
            v.vt = VT_BYREF | VT_DISPATCH;
            v.ppdispVal = bag.Keep<IDispatch*>(nullptr);
            return;
        case 34:
            if (env.inProcess) {  // a reference to nothing: only an in-process client gets this far
                v.vt = VT_BYREF | static_cast<VARTYPE>(rng.OneIn(2) ? VT_I4 : VT_VARIANT);
                return;
            }
            v.vt = VT_I4;
            return;
        default:
            v.vt = VT_I4;
            v.lVal = static_cast<LONG>(rng.Below(100));
            return;
    }
}

bool TCall::CheckBlock(int slot, const void* p, std::size_t bytes, bool required) {
    if (Null(slot)) return false;
    if (p == Poison<const void*>()) {
        Fault(Slot(slot) + " left undefined");
        return false;
    }
    if (!p) {
        if (SUCCEEDED(hr) && required) Fault("success without " + Slot(slot));
        return false;
    }
    TTaskMemorySpy& spy = TTaskMemorySpy::Instance();
    if (!spy.IsLive(p)) {
        Fault(Slot(slot) + " is no task allocation");
        return false;
    }
    if (FAILED(hr)) {
        if (!RefusedByProxy()) Fault("failure " + std::to_string(hr) + " handing out an allocation in " + Slot(slot));
        CoTaskMemFree(const_cast<void*>(p));
        return false;
    }
    if (spy.SizeOf(p) < bytes) {
        Fault(Slot(slot) + " holds " + std::to_string(spy.SizeOf(p)) + " bytes, its count needs " +
              std::to_string(bytes));
        CoTaskMemFree(const_cast<void*>(p));
        return false;
    }
    return true;
}

void TCall::FreeBlock(const void* p) { CoTaskMemFree(const_cast<void*>(p)); }

bool TCall::StringEntry(LPWSTR s) {
    if (!s) return true;
    TTaskMemorySpy& spy = TTaskMemorySpy::Instance();
    const std::size_t chars = spy.SizeOf(s) / sizeof(wchar_t);
    if (chars == 0) {
        Fault("a string that is no task allocation");
        return false;
    }
    if (wcsnlen(s, chars) == chars) Fault("a string without its terminating NUL");
    CoTaskMemFree(s);
    return true;
}

void TCall::BlockEntry(const void* p) {
    if (!p) return;
    if (!TTaskMemorySpy::Instance().IsLive(p)) return Fault("an element that is no task allocation");
    CoTaskMemFree(const_cast<void*>(p));
}

void TCall::String(int slot, LPWSTR s, bool required) {
    if (CheckBlock(slot, s, sizeof(wchar_t), required)) StringEntry(s);
}

void TCall::Variant(VARIANT& v) {
    const VARTYPE vt = v.vt;
    if (FAILED(VariantClear(&v))) Fault("a value of type " + std::to_string(vt) + " that a client cannot clear");
}

std::shared_ptr<TObject> TCall::Interface(int slot, IUnknown* itf, TKind kind, REFIID iid, bool required,
                                          const std::shared_ptr<TObject>& owner) {
    if (Null(slot)) return nullptr;
    if (itf == Poison<IUnknown*>()) {
        Fault(Slot(slot) + " left undefined");
        return nullptr;
    }
    if (!itf) {
        if (SUCCEEDED(hr) && required) Fault("success without " + Slot(slot));
        return nullptr;
    }
    if (FAILED(hr)) {
        if (!RefusedByProxy()) Fault("failure " + std::to_string(hr) + " handing out an interface in " + Slot(slot));
        itf->Release();
        return nullptr;
    }
    if (kind == TKind::World) {
        itf->Release();
        return nullptr;
    }
    return world.Adopt(kind, iid, itf, owner);
}

void TCall::ErrorsAgree(const HRESULT* errors, std::size_t count) {
    bool allOk = true;
    for (std::size_t i = 0; i < count; ++i) allOk = allOk && errors[i] == S_OK;
    if (hr == S_OK && !allOk) Fault("S_OK with a failed entry");
    if (hr == S_FALSE && allOk) Fault("S_FALSE with no failed entry");
}

}  // namespace tw::opc::hostile
