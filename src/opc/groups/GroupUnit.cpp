#include "opc/groups/GroupUnit.h"

#include <new>

#include "opc/ComText.h"
#include "opc/OpcError.h"
#include "opc/ValueConvert.h"
#include "opc/server/ServIMPL.h"
#include "opc/server/ServerSlots.h"
#include "opc/server/TypeLibInfo.h"

namespace tw::opc {
namespace {

constexpr int kCloneNameAttempts = 10;

}  // namespace

TOPCGroup* TOPCGroup::Create(TDA2* server, TGroupList* ownerList) {
    try {
        return new TOPCGroup(server, ownerList);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

TOPCGroup::TOPCGroup(TDA2* server, TGroupList* ownerList)
    : server_(server), connectionPoints_(*static_cast<IConnectionPointContainer*>(this)), ownerList_(ownerList) {
    // Any number of sinks; the point holds their references.
    connectionPoints_.Add(IID_IOPCDataCallback, kAnyNumberOfSinks, [this](IUnknown* sink, bool connected) {
        if (connected)
            SinkAdvised(sink);
        else
            SinkUnadvised(sink);
    });
}

TOPCGroup::~TOPCGroup() {
    LeaveServer();
    items_.Clear();
    pending_.clear();  // without callbacks
    // The connection points let go of the sinks still advised as they go, without telling the group.
}

void* TOPCGroup::FindInterface(REFIID riid) {
    return LookUp(riid, {{IID_IOPCAsyncIO2, static_cast<IOPCAsyncIO2*>(this)},
                         {IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(this)},
                         {IID_IOPCSyncIO, static_cast<IOPCSyncIO*>(this)},
                         {IID_IOPCGroupStateMgt, static_cast<IOPCGroupStateMgt*>(this)},
                         {IID_IOPCItemMgt, static_cast<IOPCItemMgt*>(this)},
                         {IID_IOPCGroup, static_cast<IOPCGroup*>(this)},
                         {IID_IProvideClassInfo, static_cast<IProvideClassInfo*>(this)},
                         {IID_ISupportErrorInfo, static_cast<ISupportErrorInfo*>(this)}});
}

HRESULT TOPCGroup::InterfaceSupportsErrorInfo(REFIID riid) {
    for (const IID* iid :
         {&IID_IOPCGroup, &IID_IOPCGroupStateMgt, &IID_IOPCItemMgt, &IID_IOPCSyncIO, &IID_IOPCAsyncIO2})
        if (IsEqualIID(riid, *iid)) return S_OK;
    return S_FALSE;
}

HRESULT TOPCGroup::GetClassInfo(ITypeInfo** ppTI) {
    if (!ppTI) return E_INVALIDARG;
    *ppTI = TypeInfoOf(CLSID_OPCGroup);
    return *ppTI ? S_OK : TYPE_E_ELEMENTNOTFOUND;
}

// ---- state set by the server object ----

void TOPCGroup::InitState(const std::string& name, BOOL active, OPCHANDLE serverHandle, DWORD lcid,
                          float percentDeadband, OPCHANDLE clientHandle, DWORD requestedUpdateRate) {
    name_ = name;
    active_ = active;
    serverHandle_ = serverHandle;
    lcid_ = lcid;
    percentDeadband_ = percentDeadband;
    clientHandle_ = clientHandle;
    updateRate_ = ReviseUpdateRate(requestedUpdateRate);
    elapsed_ = 0;
    asyncEnable_ = -1;
    if (server_) server_->SetLastUpdateTime(NowLocalDateTime());
}

void TOPCGroup::SetTimeBias(const LONG* bias) {
    if (bias) {
        timeBias_ = *bias;
        return;
    }
    TIME_ZONE_INFORMATION tzi;
    timeBias_ = GetTimeZoneInformation(&tzi) == TIME_ZONE_ID_INVALID ? 0 : tzi.Bias;
}

void TOPCGroup::CopyTo(TOPCGroup& target) const {
    target.sink_ = nullptr;
    target.serverHandle_ = NextGroupHandle();
    target.clientHandle_ = clientHandle_;
    target.updateRate_ = updateRate_;
    target.lcid_ = lcid_;
    target.timeBias_ = timeBias_;
    target.percentDeadband_ = percentDeadband_;
    target.active_ = FALSE;
    try {
        target.items_.Reserve(items_.Count());
        for (const auto& item : items_) target.items_.Append(item->CopyForClone());
    } catch (const std::bad_alloc&) {
        // The clone keeps the items copied so far.
    }
}

void TOPCGroup::LeaveServer() {
    UnlinkSinks();
    TDA2* server = server_;
    server_ = nullptr;
    if (server && ownerList_) server->GroupDestroyed(*ownerList_, serverHandle_);
}

void TOPCGroup::End() {
    AddRef();
    LeaveServer();
    // In-process holders keep a live object that no longer belongs to any server.
    DisconnectClients();
    Release();
}

void TOPCGroup::TakeSinks(std::vector<IUnknown*>& out) {
    UnlinkSinks();
    connectionPoints_.TakeSinks(out);
}

void TOPCGroup::DisconnectClients() {
    AddRef();
    // The point has an identity of its own: its proxies hold the group as well.
    connectionPoints_.Disconnect();
    CoDisconnectObject(Unknown(), 0);
    Release();  // may end the group
}

double TOPCGroup::LastUpdateTime() const { return server_ ? server_->LastUpdateTime() : NowLocalDateTime(); }

void TOPCGroup::ActivationReset() {
    ItemsTouched();
    for (const auto& item : items_) item->LastSeenQuality = kQualityForceReport;
    elapsed_ = updateRate_;
}

// ---- connection point ----

void TOPCGroup::SinkAdvised(IUnknown* sink) {
    // Linking may call the client (a remote sink is asked for IOPCDataCallback): until it is done the
    // group goes on with its former sink. The client may be cut off meanwhile, which takes the group
    // from its server and may end the server object: it is held for the call.
    uint32_t link = 0;
    if (TDA2* server = server_) {
        server->AddRef();
        link = server->Delivery().Link(sink, IID_IOPCDataCallback);
        server->Release();
    }
    try {
        links_.emplace_back(sink, link);
    } catch (const std::bad_alloc&) {
        if (server_) server_->Delivery().Unlink(link);
        return;
    }
    sink_ = sink;
    link_ = link;
    if (active_) ActivationReset();
}

// Any unadvise ends the group's callbacks, even while other sinks stay advised. Callbacks still on
// their way to the unadvised sink are dropped.
void TOPCGroup::SinkUnadvised(IUnknown* sink) {
    sink_ = nullptr;
    link_ = 0;
    for (auto it = links_.begin(); it != links_.end(); ++it) {
        if (it->first != sink) continue;
        if (server_) server_->Delivery().Unlink(it->second);
        links_.erase(it);
        return;
    }
}

void TOPCGroup::UnlinkSinks() {
    sink_ = nullptr;
    link_ = 0;
    if (server_)
        for (const auto& [sink, link] : links_) server_->Delivery().Unlink(link);
    links_.clear();
}

HRESULT TOPCGroup::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    return connectionPoints_.Enumerate(ppEnum);
}

HRESULT TOPCGroup::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    return connectionPoints_.Find(riid, ppCP);
}

// ---- IOPCGroupStateMgt ----

HRESULT TOPCGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                            FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                            OPCHANDLE* phServerGroup) {
    if (ppName) *ppName = nullptr;
    if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID || !phClientGroup ||
        !phServerGroup)
        return E_INVALIDARG;
    LPWSTR name = TaskStrDup(name_);
    if (!name) return E_OUTOFMEMORY;
    *pUpdateRate = updateRate_;
    *pActive = active_;
    *ppName = name;
    *pTimeBias = timeBias_;
    *pPercentDeadband = percentDeadband_;
    *pLCID = lcid_;
    *phClientGroup = clientHandle_;
    *phServerGroup = serverHandle_;
    return S_OK;
}

HRESULT TOPCGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive, LONG* pTimeBias,
                            FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup) {
    if (removed_) return E_FAIL;
    HRESULT hr = S_OK;
    if (pRequestedUpdateRate) {
        updateRate_ = ReviseUpdateRate(*pRequestedUpdateRate);
        elapsed_ = 0;
        if (updateRate_ != *pRequestedUpdateRate) hr = OPC_S_UNSUPPORTEDRATE;
    }
    if (pTimeBias) timeBias_ = *pTimeBias;
    if (pPercentDeadband) percentDeadband_ = *pPercentDeadband;
    if (pLCID) lcid_ = *pLCID;
    if (phClientGroup) clientHandle_ = *phClientGroup;
    if (pRevisedUpdateRate) *pRevisedUpdateRate = updateRate_;
    if (pActive) {
        if (*pActive && !active_) ActivationReset();
        active_ = *pActive;
    }
    return hr;
}

HRESULT TOPCGroup::SetName(LPCWSTR szName) {
    if (removed_) return E_FAIL;
    const std::string name = Narrow(szName);
    if (name.empty()) return E_INVALIDARG;
    if (server_ && TDA2::FindGroupByName(server_->PrivateGroups(), name) >= 0) return OPC_E_DUPLICATENAME;
    name_ = name;
    return S_OK;
}

HRESULT TOPCGroup::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk) *ppUnk = nullptr;
    // Only an interface the clone has: no interface is named {DDC012F8-...} (the enumerators' class
    // identifier), so across processes a clone handed out under it cannot be marshalled, and the
    // stub's lost reference kept the clone in the server for good.
    if (!IsEqualIID(riid, IID_IOPCGroupStateMgt)) return E_NOINTERFACE;
    if (!ppUnk) return E_INVALIDARG;
    if (!server_) return E_FAIL;  // detached from its server: there is no list to clone into
    std::string candidate = Narrow(szName);
    if (!candidate.empty() && server_->GroupNameExists(candidate)) return OPC_E_DUPLICATENAME;
    for (int appended = 0; server_->GroupNameExists(candidate); ++appended) {
        if (appended == kCloneNameAttempts) return E_FAIL;
        candidate += std::to_string(GetTickCount());
    }
    IUnknown* clone = nullptr;
    const HRESULT hr = server_->AddClonedGroup(candidate, *this, &clone);
    if (FAILED(hr) || !clone) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    const HRESULT qi = clone->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    clone->Release();
    return qi;
}

}  // namespace tw::opc
