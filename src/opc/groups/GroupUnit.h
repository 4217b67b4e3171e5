// The group object: a client's named set of items with a shared update rate, active flag, locale,
// time bias and data callback.
//
// Ownership: the client's references keep a group alive; its server object lists it without a
// reference. The group points at its server without a reference too, and the server's teardown
// ends every group still listed (End), which detaches it, so a group that outlives its server
// never reaches it again. Items belong to the group.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OPCDA.h"
#include "Tarnowick.h"
#include "opc/ComObject.h"
#include "opc/groups/AsyncUnit.h"
#include "opc/groups/ItemList.h"
#include "opc/groups/OPCRemovedGroupUnit.h"
#include "opc/server/ConnectionPoint.h"

namespace tw::opc {

class TDA2;

class TOPCGroup final : public TComObject<IOPCAsyncIO2, IConnectionPointContainer, IOPCSyncIO, IOPCGroupStateMgt,
                                          IOPCItemMgt, IOPCGroup, IProvideClassInfo, ISupportErrorInfo> {
public:
    // A new group bound to server and ownerList, with no references yet; null when out of memory.
    // The caller appends it to ownerList. A group made without a server belongs to no lists.
    static TOPCGroup* Create(TDA2* server, TGroupList* ownerList);

    void InitState(const std::string& name, BOOL active, OPCHANDLE serverHandle, DWORD lcid, float percentDeadband,
                   OPCHANDLE clientHandle, DWORD requestedUpdateRate);
    // Minutes; null means the machine's current time-zone bias.
    void SetTimeBias(const LONG* bias);
    // State and item copy for cloning: target gets a new server handle, is inactive and has no sink.
    void CopyTo(TOPCGroup& target) const;
    // The update pass: queued transactions, item refresh, and the data change when the rate is due.
    // A pass never runs inside another pass of the same group.
    void Pulse(double now);
    // The server object is going away: leave its lists and cut off clients that still hold the group.
    void End();
    // Cuts off every client, also one that holds only the connection point (it keeps the group
    // alive); the group ends here unless an in-process holder remains.
    void DisconnectClients();
    // The client is being cut off: its sinks go to out unreleased, and no callback is made any more.
    void TakeSinks(std::vector<IUnknown*>& out);

    const std::string& Name() const { return name_; }
    void SetNameText(const std::string& name) { name_ = name; }
    OPCHANDLE ServerHandle() const { return serverHandle_; }
    OPCHANDLE ClientHandle() const { return clientHandle_; }
    DWORD UpdateRate() const { return updateRate_; }
    DWORD Elapsed() const { return elapsed_; }
    DWORD Lcid() const { return lcid_; }
    BOOL Active() const { return active_; }
    BOOL AsyncEnable() const { return asyncEnable_; }
    LONG TimeBias() const { return timeBias_; }
    float PercentDeadband() const { return percentDeadband_; }
    bool Removed() const { return removed_; }
    void MarkRemoved() { removed_ = true; }
    TDA2* Server() const { return server_; }
    IUnknown* Sink() const { return sink_; }
    const TOPCItemList& Items() const { return items_; }
    std::size_t PendingCount() const { return pending_.size(); }
    IUnknown* Unknown() { return static_cast<IUnknown*>(FindInterface(IID_IUnknown)); }

    static DWORD ReviseUpdateRate(DWORD requested) { return requested == 0 ? 1000 : requested; }

    // IOPCAsyncIO2
    HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                                   HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                                    DWORD* pdwCancelID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override;
    HRESULT STDMETHODCALLTYPE Cancel2(DWORD dwCancelID) override;
    HRESULT STDMETHODCALLTYPE SetEnable(BOOL bEnable) override;
    HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pbEnable) override;
    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;
    // IOPCSyncIO
    HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                   OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    HRESULT** ppErrors) override;
    // IOPCGroupStateMgt
    HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                                       FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                                       OPCHANDLE* phServerGroup) override;
    HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                                       LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                       OPCHANDLE* phClientGroup) override;
    HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) override;
    HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    // IOPCItemMgt
    HRESULT STDMETHODCALLTYPE AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                                       HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                            OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                             HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                               HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                           HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override;
    // IProvideClassInfo, ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** ppTI) override;
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

private:
    TOPCGroup(TDA2* server, TGroupList* ownerList);
    ~TOPCGroup() override;
    void* FindInterface(REFIID riid) override;
    void LeaveServer();
    // Every item counts as changed at the next pass, which is due at once.
    void ActivationReset();
    void SinkAdvised(IUnknown* sink);
    void SinkUnadvised(IUnknown* sink);
    // Ends the links of every advised sink (the server's delivery lets go of what it holds).
    void UnlinkSinks();
    // The timestamp of item values: the server's latest pulse.
    double LastUpdateTime() const;
    // Runs entry(item, i) for each handle that names an item (OPC_E_INVALIDHANDLE for the others)
    // and hands out the error array; S_FALSE when any entry failed.
    // AddItems (create) and ValidateItems (check only): per-entry checks, results and errors.
    HRESULT DefineItems(DWORD dwCount, const OPCITEMDEF* pItemArray, bool create, OPCITEMRESULT** ppResults,
                        HRESULT** ppErrors);
    HRESULT ForEachHandle(DWORD dwCount, const OPCHANDLE* phServer, HRESULT** ppErrors,
                          const std::function<HRESULT(TOPCItem& item, DWORD i)>& entry);
    // Async Read and Write: one entry per handle that names an item, queued unless there is none.
    HRESULT QueueItems(TAsyncKind kind, DWORD dwCount, const OPCHANDLE* phServer, const VARIANT* pItemValues,
                       DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors);

    // The pass (GroupPulse.cpp).
    void Pass(double now);
    // Refreshes the item and, when due, collects its pending change; the version of the point taken.
    uint32_t Refreshed(TOPCItem& item, bool due);
    // Every active item, which also rebuilds the watch list; or only the watched items whose data
    // point moved or that hold a pending change.
    void WalkAll(bool due);
    void WalkWatched(bool due);
    // Anything that may change items other than through their data points ends the watch list.
    void ItemsTouched() { watchValid_ = false; }
    void RunPending(double now);
    // The callback a transaction makes, or null when it makes none.
    std::unique_ptr<TDelivery> Execute(TAsyncIO2& t, double now);
    std::unique_ptr<TDelivery> ExecuteRead(const TAsyncIO2& t, const FILETIME& stamp);
    std::unique_ptr<TDelivery> ExecuteWrite(TAsyncIO2& t);
    std::unique_ptr<TDelivery> ExecuteRefresh(const TAsyncIO2& t, const FILETIME& stamp);
    std::unique_ptr<TDelivery> ExecuteDataChange(const FILETIME& stamp);
    // The item a request entry names, wherever it stands now; null once it has been removed.
    TOPCItem* ItemFor(const TAsyncEntry& entry) const;
    // A callback of this group to fill, and its hand-over to the sink advised last through the server
    // object's delivery.
    std::unique_ptr<TDelivery> NewDelivery(TDeliveryKind kind, DWORD transactionId, std::size_t count);
    void Deliver(std::unique_ptr<TDelivery> d);

    TDA2* server_;
    TConnectionPoints connectionPoints_;  // the one for IOPCDataCallback
    std::string name_;
    OPCHANDLE clientHandle_ = 0;
    OPCHANDLE serverHandle_ = 0;
    DWORD updateRate_ = 1000;
    DWORD lcid_ = 0;
    DWORD elapsed_ = 0;
    TGroupList* ownerList_;
    TOPCItemList items_;
    BOOL active_ = FALSE;
    BOOL asyncEnable_ = -1;
    LONG timeBias_ = 0;
    float percentDeadband_ = 0.0f;
    IUnknown* sink_ = nullptr;  // the sink advised last; the connection point holds its reference
    uint32_t link_ = 0;         // its link in the server's delivery; 0 when it takes no callbacks
    // Every advised sink with its link, so that an Unadvise ends the right one.
    std::vector<std::pair<IUnknown*, uint32_t>> links_;
    bool removed_ = false;
    bool inPass_ = false;
    std::vector<std::unique_ptr<TAsyncIO2>> pending_;
    // Items of the due pass that changed; allocated once and reused by every pass.
    std::vector<TAsyncEntry> changed_;
    // The active items as the last walk left them, in list order: an item whose data point still
    // holds the value it last saw and that has no pending change needs no refresh, so an idle pass
    // reads this compact list instead of every item.
    struct TWatchedItem {
        int32_t point;
        uint32_t position;
        uint32_t seen;  // the version of the data point's value and quality as last taken
        bool pending;
    };
    std::vector<TWatchedItem> watched_;
    bool watchValid_ = false;
};

}  // namespace tw::opc
