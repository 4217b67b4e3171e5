#include "opc/groups/GroupUnit.h"

#include <new>

#include "opc/ValueConvert.h"
#include "opc/server/ServIMPL.h"
#include "opc/server/ServerSlots.h"

namespace tw::opc {

TOPCGroup* TOPCGroup::Create(TDA2* server, TGroupList* ownerList) {
    return new (std::nothrow) TOPCGroup(server, ownerList);
}

TOPCGroup::~TOPCGroup() { LeaveServer(); }

void* TOPCGroup::FindInterface(REFIID riid) {
    return LookUp(riid, {{IID_IOPCGroup, static_cast<IOPCGroup*>(this)},
                         {IID_ISupportErrorInfo, static_cast<ISupportErrorInfo*>(this)}});
}

HRESULT TOPCGroup::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID_IOPCGroup) ? S_OK : S_FALSE;
}

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
    target.serverHandle_ = NextGroupHandle();
    target.clientHandle_ = clientHandle_;
    target.updateRate_ = updateRate_;
    target.lcid_ = lcid_;
    target.timeBias_ = timeBias_;
    target.percentDeadband_ = percentDeadband_;
    target.active_ = FALSE;
}

void TOPCGroup::Pulse(double now) { (void)now; }

void TOPCGroup::LeaveServer() {
    TDA2* server = server_;
    server_ = nullptr;
    if (server) server->GroupDestroyed(*ownerList_, serverHandle_);
}

void TOPCGroup::End() {
    AddRef();
    LeaveServer();
    // Proxies of clients that still hold the group are cut off; in-process holders keep a live
    // object that no longer belongs to any server.
    CoDisconnectObject(Unknown(), 0);
    Release();
}

}  // namespace tw::opc
