#include "opc/server/ServIMPL.h"

#include <oleauto.h>

#include <cstring>
#include <new>

#include "opc/ComText.h"
#include "opc/OpcError.h"
#include "opc/ValueConvert.h"
#include "opc/server/EnumString.h"
#include "opc/server/EnumUnknown.h"
#include "opc/server/OPCErrorStrings.h"
#include "opc/server/ServerSlots.h"
#include "opc/server/TypeLibInfo.h"

namespace tw::opc {

const wchar_t kVendorInfo[] = L"Velmora (https://www.velmora.example)";

namespace {

constexpr size_t kInitialGroupCapacity = 255;
constexpr int kNameAttempts = 10;
// A member's name and one name per parameter, as many as a type library can describe. The type
// information answers a longer list too, writing an entry for every name it was told of: a count
// beyond the caller's arrays would have it write (and read) past them.
constexpr UINT kMaxDispatchNames = 1 + 0x7FFF;

}  // namespace

HRESULT TDA2::Create(REFIID riid, void** ppv, IServerLifetime* lifetime) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    const int slot = LowestFreeServerSlot();
    if (slot < 0) return kNoFreeServerSlot;
    TDA2* server = nullptr;
    try {
        server = new TDA2(slot, lifetime);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    server->AddRef();
    HRESULT hr = server->QueryInterface(riid, ppv);
    server->Release();  // destroys it again when riid is not supported
    return hr;
}

TDA2::TDA2(int slot, IServerLifetime* lifetime) : startTime_(NowLocalDateTime()), slot_(slot), lifetime_(lifetime) {
    if (lifetime_) lifetime_->ObjectCreated();
    privateGroups_.reserve(kInitialGroupCapacity);
    publicGroups_.reserve(kInitialGroupCapacity);
    // One sink at a time; the connection point holds the reference.
    connections_.AddPoint(IID_IOPCShutdown, 1,
                          [this](IUnknown* sink, bool connected) { ShutdownSinkChanged(sink, connected); });
    ServerSlots[slot_] = this;
    StartClientWatch();
    UpdateServerConsole();
}

TDA2::~TDA2() {
    // Each group's End takes it out of its list (leaving a placeholder), so work on copies.
    for (TGroupList* list : {&privateGroups_, &publicGroups_}) {
        const TGroupList groups = *list;
        for (TOPCGroup* g : groups) g->End();
    }
    privateGroups_.clear();
    publicGroups_.clear();
    removedGroups_.clear();
    LeaveSlot();
    if (lifetime_) lifetime_->ObjectDestroyed();
}

void TDA2::LeaveSlot() {
    if (slot_ < 0) return;
    if (ServerSlots[slot_] == this) ServerSlots[slot_] = nullptr;
    slot_ = -1;
    UpdateServerConsole();
}

void TDA2::ShutdownSinkChanged(IUnknown* sink, bool connected) {
    delivery_.Unlink(shutdownLink_);
    shutdownLink_ = 0;
    shutdownSink_ = nullptr;
    if (!connected) return;
    // Linking may call the client, which answers: it is inside its Advise.
    const uint32_t link = delivery_.Link(sink, IID_IOPCShutdown);
    shutdownSink_ = sink;
    shutdownLink_ = link;
}

void TDA2::CutOff() {
    AddRef();
    // Nothing here calls the client: its sinks go to the delivery, which has them released once the
    // client has answered.
    std::vector<IUnknown*> sinks;
    connections_.TakeSinks(sinks);
    shutdownSink_ = nullptr;
    shutdownLink_ = 0;
    TGroupList groups = privateGroups_;
    groups.insert(groups.end(), publicGroups_.begin(), publicGroups_.end());
    for (TOPCGroup* g : groups) {
        g->AddRef();
        g->TakeSinks(sinks);
    }
    delivery_.Abandon(std::move(sinks));
    LeaveSlot();
    // Each group leaves its list (a placeholder stays) and loses its clients' references.
    for (TOPCGroup* g : groups) g->End();
    DisconnectClients();
    for (TOPCGroup* g : groups) g->Release();
    Release();  // ends the object unless an in-process holder remains
}

void* TDA2::FindInterface(REFIID riid) {
    return LookUp(riid, {{IID_IOPCServer, static_cast<IOPCServer*>(this)},
                         {IID_IDA2, static_cast<IDA2*>(this)},
                         {IID_IDispatch, static_cast<IDA2*>(this)},
                         {IID_IProvideClassInfo, static_cast<IProvideClassInfo*>(this)},
                         {IID_ISupportErrorInfo, static_cast<ISupportErrorInfo*>(this)},
                         {IID_IOPCItemProperties, static_cast<IOPCItemProperties*>(&itemProps_)},
                         {IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(&connections_)},
                         {IID_IOPCBrowseServerAddressSpace, static_cast<IOPCBrowseServerAddressSpace*>(this)},
                         {IID_IOPCCommon, static_cast<IOPCCommon*>(&common_)}});
}

void TDA2::DisconnectClients() {
    AddRef();
    connections_.DisconnectPoints();
    CoDisconnectObject(static_cast<IOPCServer*>(this), 0);
    Release();
}

// ---- group lists ----

int TDA2::FindGroupByName(const TGroupList& list, const std::string& name) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i]->Name() == name) return static_cast<int>(i);
    return -1;
}

int TDA2::FindGroupByHandle(const TGroupList& list, OPCHANDLE handle) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i]->ServerHandle() == handle) return static_cast<int>(i);
    return -1;
}

bool TDA2::GroupNameExists(const std::string& name) const {
    return FindGroupByName(privateGroups_, name) >= 0 || FindGroupByName(publicGroups_, name) >= 0;
}

void TDA2::GroupDestroyed(TGroupList& list, OPCHANDLE handle) {
    const int i = FindGroupByHandle(list, handle);
    if (i < 0) return;
    removedGroups_.push_back(TOPCGroupRemoved{list[static_cast<size_t>(i)]->Name(), &list, 0, handle});
    list.erase(list.begin() + i);
    UpdateServerConsole();
}

HRESULT TDA2::AddClonedGroup(const std::string& name, const TOPCGroup& source, IUnknown** ppUnk) {
    if (ppUnk) *ppUnk = nullptr;
    TOPCGroup* group = TOPCGroup::Create(this, &privateGroups_);
    if (!group) return E_OUTOFMEMORY;
    privateGroups_.push_back(group);
    group->SetNameText(name);
    source.CopyTo(*group);
    group->AddRef();
    if (ppUnk) {
        *ppUnk = group->Unknown();
    } else {
        group->Release();  // nobody takes it: it ends at once
    }
    return S_OK;
}

void TDA2::PulseServer(double now) {
    lastUpdateTime_ = now;
    // The callbacks of the whole pass reach the client's thread together.
    delivery_.BeginBatch();
    // A group may be released by an in-process sink during a callback of its pass; hold each one meanwhile.
    for (TGroupList* list : {&privateGroups_, &publicGroups_}) {
        const TGroupList groups = *list;
        for (TOPCGroup* g : groups) g->AddRef();
        for (TOPCGroup* g : groups) g->Pulse(now);
        for (TOPCGroup* g : groups) g->Release();
    }
    delivery_.EndBatch();
}

HRESULT TDA2::GenerateGroupName(std::string& name) const {
    std::string candidate;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        candidate += std::to_string(GetTickCount());
        if (!GroupNameExists(candidate)) {
            name = candidate;
            return S_OK;
        }
    }
    return OPC_E_DUPLICATENAME;
}

// ---- IOPCServer ----

HRESULT TDA2::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                       LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                       DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk) *ppUnk = nullptr;
    if (!phServerGroup || !pRevisedUpdateRate || !ppUnk) return E_INVALIDARG;
    *phServerGroup = 0;

    std::string name = Narrow(szName);
    if (name.empty() && FAILED(GenerateGroupName(name))) return OPC_E_DUPLICATENAME;
    if (GroupNameExists(name)) return OPC_E_DUPLICATENAME;
    const float deadband = pPercentDeadband ? *pPercentDeadband : 0.0f;
    if (!(deadband >= 0.0f && deadband <= 100.0f)) return E_INVALIDARG;  // NaN is refused too

    TOPCGroup* group = TOPCGroup::Create(this, &privateGroups_);
    if (!group) return E_OUTOFMEMORY;
    // The group is handed out as riid. One it does not answer (an interface of a later OPC version,
    // say) is refused before anything is made: across processes the group could not be marshalled
    // as riid, and would stay behind with nobody to release it.
    IUnknown* itf = nullptr;
    if (FAILED(group->QueryInterface(riid, reinterpret_cast<void**>(&itf)))) {
        group->AddRef();
        group->Release();  // never listed: it ends here without a trace
        return E_NOINTERFACE;
    }
    privateGroups_.push_back(group);
    *phServerGroup = NextGroupHandle();
    group->InitState(name, bActive, *phServerGroup, dwLCID, deadband, hClientGroup, dwRequestedUpdateRate);
    group->SetTimeBias(pTimeBias);
    *pRevisedUpdateRate = group->UpdateRate();
    const HRESULT hr = *pRevisedUpdateRate == dwRequestedUpdateRate ? S_OK : OPC_S_UNSUPPORTEDRATE;
    UpdateServerConsole();
    *ppUnk = itf;
    return hr;
}

HRESULT TDA2::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
    (void)dwLocale;
    if (!ppString) return E_INVALIDARG;
    *ppString = TaskStrDup(GetErrorText(dwError));
    return *ppString ? S_OK : E_OUTOFMEMORY;
}

HRESULT TDA2::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk) *ppUnk = nullptr;
    const int i = FindGroupByName(privateGroups_, Narrow(szName));
    if (!ppUnk || i < 0) return E_INVALIDARG;
    return privateGroups_[static_cast<size_t>(i)]->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT TDA2::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
    if (!ppServerStatus) return E_INVALIDARG;
    auto* status = static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS)));
    LPWSTR vendor = status ? TaskStrDup(std::wstring(kVendorInfo)) : nullptr;
    if (!status || !vendor) {
        CoTaskMemFree(status);
        *ppServerStatus = nullptr;
        return E_OUTOFMEMORY;
    }
    std::memset(status, 0, sizeof(*status));
    status->ftStartTime = LocalDateTimeToFileTime(startTime_);
    CoFileTimeNow(&status->ftCurrentTime);
    status->ftLastUpdateTime = LocalDateTimeToFileTime(lastUpdateTime_);
    status->dwServerState = OPC_STATUS_RUNNING;
    status->dwGroupCount = static_cast<DWORD>(privateGroups_.size() + publicGroups_.size());
    status->dwBandWidth = 100;
    status->wMajorVersion = kServerMajorVersion;
    status->wMinorVersion = kServerMinorVersion;
    status->wBuildNumber = kServerBuildNumber;
    status->szVendorInfo = vendor;
    *ppServerStatus = status;
    return S_OK;
}

HRESULT TDA2::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
    if (hServerGroup == 0) return E_INVALIDARG;
    for (TOPCGroupRemoved& placeholder : removedGroups_) {
        if (placeholder.ServerHandle == hServerGroup) return ++placeholder.RemovalCount == 1 ? S_OK : E_INVALIDARG;
    }
    const int i = FindGroupByHandle(privateGroups_, hServerGroup);
    if (i < 0) return E_INVALIDARG;
    TOPCGroup* group = privateGroups_[static_cast<size_t>(i)];
    if (group->Removed()) return E_INVALIDARG;
    group->MarkRemoved();
    if (!bForce) return OPC_S_INUSE;
    // Also a client that keeps only the group's connection point (for a later Unadvise) is cut off, or
    // it would keep the group listed, its name taken and its data changes flowing. The last reference
    // going destroys the group and its entry.
    if (group->RefCount() > 0) group->DisconnectClients();
    return S_OK;
}

HRESULT TDA2::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk) *ppUnk = nullptr;
    const bool strings = IsEqualIID(riid, IID_IEnumString);
    if (!strings && !IsEqualIID(riid, IID_IEnumUnknown)) return E_NOINTERFACE;
    std::vector<const TGroupList*> lists;
    switch (dwScope) {
        case OPC_ENUM_PRIVATE_CONNECTIONS:
        case OPC_ENUM_PRIVATE: lists = {&privateGroups_}; break;
        case OPC_ENUM_PUBLIC_CONNECTIONS:
        case OPC_ENUM_PUBLIC: lists = {&publicGroups_}; break;
        case OPC_ENUM_ALL_CONNECTIONS:
        case OPC_ENUM_ALL: lists = {&privateGroups_, &publicGroups_}; break;
        default: return E_INVALIDARG;
    }
    if (!ppUnk) return E_INVALIDARG;
    size_t count = 0;
    HRESULT hr;
    if (strings) {
        std::vector<std::string> names;
        for (const TGroupList* l : lists)
            for (TOPCGroup* g : *l) names.push_back(g->Name());
        count = names.size();
        hr = TOPCStringsEnumerator::Create(names, reinterpret_cast<IEnumString**>(ppUnk));
    } else {
        std::vector<IUnknown*> groups;
        for (const TGroupList* l : lists)
            for (TOPCGroup* g : *l) groups.push_back(g->Unknown());
        count = groups.size();
        hr = TMRDUnknownEnumerator::Create(groups, reinterpret_cast<IEnumUnknown**>(ppUnk));
    }
    if (FAILED(hr)) return hr;
    return count == 0 ? S_FALSE : S_OK;
}

// ---- IDispatch, IProvideClassInfo, ISupportErrorInfo ----

HRESULT TDA2::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_INVALIDARG;
    ITypeInfo* ti = TypeInfoOf(IID_IDA2);
    *pctinfo = ti ? 1 : 0;
    if (ti) ti->Release();
    return S_OK;
}

HRESULT TDA2::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) {
    (void)lcid;
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (iTInfo != 0) return DISP_E_BADINDEX;
    *ppTInfo = TypeInfoOf(IID_IDA2);
    return *ppTInfo ? S_OK : TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TDA2::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) {
    (void)riid;
    (void)lcid;
    if (!rgszNames || !rgDispId || cNames > kMaxDispatchNames) return E_INVALIDARG;
    ITypeInfo* ti = TypeInfoOf(IID_IDA2);
    if (!ti) return E_NOTIMPL;
    HRESULT hr = DispGetIDsOfNames(ti, rgszNames, cNames, rgDispId);
    ti->Release();
    return hr;
}

HRESULT TDA2::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    (void)riid;
    (void)lcid;
    if (!pDispParams || pDispParams->cNamedArgs > pDispParams->cArgs || pDispParams->cArgs >= kMaxDispatchNames ||
        (pDispParams->cArgs && !pDispParams->rgvarg) || (pDispParams->cNamedArgs && !pDispParams->rgdispidNamedArgs))
        return E_INVALIDARG;
    ITypeInfo* ti = TypeInfoOf(IID_IDA2);
    if (!ti) return E_NOTIMPL;
    HRESULT hr = DispInvoke(static_cast<IDA2*>(this), ti, dispIdMember, wFlags, pDispParams, pVarResult,
                            pExcepInfo, puArgErr);
    ti->Release();
    return hr;
}

HRESULT TDA2::GetClassInfo(ITypeInfo** ppTI) {
    if (!ppTI) return E_INVALIDARG;
    *ppTI = TypeInfoOf(CLSID_DA2);
    return *ppTI ? S_OK : TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TDA2::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_IDA2) || IsEqualIID(riid, IID_IOPCServer) ? S_OK : S_FALSE;
}

}  // namespace tw::opc
