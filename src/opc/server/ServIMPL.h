// The server object: one per client connection, created through the DA2 class factory. It owns
// its client's delivery (ClientDelivery.h): the queue and thread that carry every callback to the
// client. A client that no longer answers is cut off (CutOff) on the main thread.
#pragma once

#include <string>
#include <vector>

#include "OPCDA.h"
#include "Tarnowick.h"
#include "opc/ComObject.h"
#include "opc/delivery/ClientDelivery.h"
#include "opc/groups/GroupUnit.h"
#include "opc/groups/OPCRemovedGroupUnit.h"
#include "opc/server/BrowseIMPL.h"
#include "opc/server/ConnectionPoint.h"
#include "opc/server/IOPCCommonUnit.h"
#include "opc/server/ItemPropIMPL.h"

namespace tw::opc {

// Version reported by GetStatus.
constexpr WORD kServerMajorVersion = 1;
constexpr WORD kServerMinorVersion = 2;
constexpr WORD kServerBuildNumber = 5;
extern const wchar_t kVendorInfo[];

// Told of every server object's creation and destruction (the process started by COM counts them).
class IServerLifetime {
public:
    virtual ~IServerLifetime() = default;
    virtual void ObjectCreated() = 0;
    virtual void ObjectDestroyed() = 0;
};

// What a creation answers when all server slots are taken.
constexpr HRESULT kNoFreeServerSlot = E_OUTOFMEMORY;

class TDA2 final : public TComObject<IOPCServer, IDA2, IProvideClassInfo, ISupportErrorInfo, TOPCBrowse> {
public:
    // Creates a server object in the lowest free slot and queries it for riid; lifetime (optional)
    // hears of its creation and, after it has left its slot, of its destruction.
    static HRESULT Create(REFIID riid, void** ppv, IServerLifetime* lifetime = nullptr);

    // IOPCServer
    HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                       OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                       DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                       REFIID riid, LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override;
    HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
    HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
    HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) override;

    // IDispatch (IDA2 has no members of its own)
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                            DISPID* rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
    // IProvideClassInfo
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** ppTI) override;
    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // Group-list operations.
    bool GroupNameExists(const std::string& name) const;
    static int FindGroupByName(const TGroupList& list, const std::string& name);
    static int FindGroupByHandle(const TGroupList& list, OPCHANDLE handle);
    void GroupDestroyed(TGroupList& list, OPCHANDLE handle);
    HRESULT AddClonedGroup(const std::string& name, const TOPCGroup& source, IUnknown** ppUnk);
    void PulseServer(double now);

    const TGroupList& PrivateGroups() const { return privateGroups_; }
    const TGroupList& PublicGroups() const { return publicGroups_; }
    const std::vector<TOPCGroupRemoved>& RemovedGroups() const { return removedGroups_; }
    double StartTime() const { return startTime_; }
    double LastUpdateTime() const { return lastUpdateTime_; }
    void SetLastUpdateTime(double t) { lastUpdateTime_ = t; }
    int Slot() const { return slot_; }
    // The sink advised on the IOPCShutdown connection point, or null; no reference of its own.
    IUnknown* ShutdownSink() const { return shutdownSink_; }
    const TIOPCCommon& Common() const { return common_; }
    // Cuts off every client, also one that holds only a connection point (it keeps this object
    // alive); the object ends here unless an in-process holder remains.
    void DisconnectClients();
    // The link of the IOPCShutdown sink in the delivery; 0 when there is none, or it does not
    // answer IOPCShutdown.
    uint32_t ShutdownLink() const { return shutdownLink_; }
    TClientDelivery& Delivery() { return delivery_; }
    // Its connections are cut (this object, its groups, their connection points) without calling the
    // client, its groups end, its slot is freed; its sinks are released once the client has answered
    // (TClientDelivery::Abandon). For a client that no longer answers, and at the process's end.
    void CutOff();

private:
    TDA2(int slot, IServerLifetime* lifetime);
    ~TDA2() override;
    void* FindInterface(REFIID riid) override;
    HRESULT GenerateGroupName(std::string& name) const;
    void ShutdownSinkChanged(IUnknown* sink, bool connected);
    void LeaveSlot();

    TGroupList privateGroups_;
    TGroupList publicGroups_;
    std::vector<TOPCGroupRemoved> removedGroups_;
    double startTime_;
    double lastUpdateTime_ = 0.0;
    int slot_;
    IServerLifetime* lifetime_;
    TIOPCCommon common_{static_cast<IOPCServer*>(this)};
    TOPCItemProp itemProps_{static_cast<IOPCServer*>(this)};
    TConnectionPointContainer connections_{static_cast<IOPCServer*>(this)};
    IUnknown* shutdownSink_ = nullptr;
    uint32_t shutdownLink_ = 0;
    // Last: it stops (dropping what is undelivered) after the groups have ended.
    TClientDelivery delivery_;
};

}  // namespace tw::opc
