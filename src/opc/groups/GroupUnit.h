// The group object: state that the server object sets and reads. The OPC group interfaces
// (state management, items, I/O, data callbacks) build on this class.
#pragma once

#include <string>

#include "OPCDA.h"
#include "Tarnowick.h"
#include "opc/ComObject.h"
#include "opc/groups/OPCRemovedGroupUnit.h"

namespace tw::opc {

class TDA2;

class TOPCGroup final : public TComObject<IOPCGroup, ISupportErrorInfo> {
public:
    // A new group bound to server and ownerList, with no references yet; null when out of memory.
    // The caller appends it to ownerList.
    static TOPCGroup* Create(TDA2* server, TGroupList* ownerList);

    void InitState(const std::string& name, BOOL active, OPCHANDLE serverHandle, DWORD lcid, float percentDeadband,
                   OPCHANDLE clientHandle, DWORD requestedUpdateRate);
    // Minutes; null means the machine's current time-zone bias.
    void SetTimeBias(const LONG* bias);
    // State copy for cloning: target gets a new server handle and is inactive.
    void CopyTo(TOPCGroup& target) const;
    // The update pass.
    void Pulse(double now);
    // The server object is going away: leave its lists and cut off clients that still hold the group.
    void End();

    const std::string& Name() const { return name_; }
    void SetNameText(const std::string& name) { name_ = name; }
    OPCHANDLE ServerHandle() const { return serverHandle_; }
    OPCHANDLE ClientHandle() const { return clientHandle_; }
    DWORD UpdateRate() const { return updateRate_; }
    DWORD Lcid() const { return lcid_; }
    BOOL Active() const { return active_; }
    LONG TimeBias() const { return timeBias_; }
    float PercentDeadband() const { return percentDeadband_; }
    bool Removed() const { return removed_; }
    void MarkRemoved() { removed_ = true; }
    TDA2* Server() const { return server_; }
    IUnknown* Unknown() { return static_cast<IOPCGroup*>(this); }

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    static DWORD ReviseUpdateRate(DWORD requested) { return requested == 0 ? 1000 : requested; }

private:
    TOPCGroup(TDA2* server, TGroupList* ownerList) : server_(server), ownerList_(ownerList) {}
    ~TOPCGroup() override;
    void* FindInterface(REFIID riid) override;
    void LeaveServer();

    TDA2* server_;
    std::string name_;
    OPCHANDLE clientHandle_ = 0;
    OPCHANDLE serverHandle_ = 0;
    DWORD updateRate_ = 1000;
    DWORD lcid_ = 0;
    DWORD elapsed_ = 0;
    TGroupList* ownerList_;
    BOOL active_ = FALSE;
    BOOL asyncEnable_ = -1;
    LONG timeBias_ = 0;
    float percentDeadband_ = 0.0f;
    bool removed_ = false;
};

}  // namespace tw::opc
