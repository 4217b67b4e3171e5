#include "opc/server/ServerSlots.h"

#include <objbase.h>

#include <utility>

#include "opc/delivery/ClientWatch.h"
#include "opc/delivery/SinkRelease.h"
#include "opc/server/ServIMPL.h"

namespace tw::opc {
namespace {

DWORD groupHandleCounter = 1;
bool pulseRunning = false;
std::function<void()> consoleListener;
std::function<void(const std::string&)> clientLogListener;
ULONGLONG stuckCallbackMs = kStuckCallbackMs;
bool cuttingOff = false;
// How long the end waits for cut-off clients to answer, so that their sinks can be released.
constexpr DWORD kEndReleaseWaitMs = 500;
bool sinksKept = false;

}  // namespace

TDA2* ServerSlots[kServerSlotCount] = {};

int LowestFreeServerSlot() {
    for (int i = 0; i < kServerSlotCount; ++i)
        if (!ServerSlots[i]) return i;
    return -1;
}

int CountServerObjects() {
    int n = 0;
    for (TDA2* s : ServerSlots)
        if (s) ++n;
    return n;
}

DWORD NextGroupHandle() { return ++groupHandleCounter; }

void PulseServers(double now) {
    if (pulseRunning) return;
    pulseRunning = true;
    // The delivery threads get the pass's callbacks once it is over, so they do not compete with it.
    TDA2* servers[kServerSlotCount] = {};
    for (int i = 0; i < kServerSlotCount; ++i) {
        if (!(servers[i] = ServerSlots[i])) continue;
        // A client with an in-process sink may release its server object inside a callback of this pass.
        servers[i]->AddRef();
        servers[i]->Delivery().BeginBatch();
    }
    for (TDA2* server : servers)
        if (server) server->PulseServer(now);
    for (TDA2* server : servers) {
        if (!server) continue;
        server->Delivery().EndBatch(false);
        server->Release();
    }
    WakeDeliveryThreads();
    pulseRunning = false;
}

void DisconnectAllServers() {
    for (int i = kServerSlotCount - 1; i >= 0; --i) {
        // Also cuts clients that hold a connection point, which would keep the object past COM's end,
        // and never calls a client: letting go of a hung client's sinks here would hang the end.
        if (TDA2* server = ServerSlots[i]) server->CutOff();
    }
    sinksKept = !ReleaseGivenBack(kEndReleaseWaitMs);
}

bool MainApartmentMayEnd() { return !sinksKept; }

void SetServerConsoleListener(std::function<void()> listener) { consoleListener = std::move(listener); }

void UpdateServerConsole() {
    if (consoleListener) consoleListener();
}

void SetStuckCallbackLimit(ULONGLONG ms) { stuckCallbackMs = ms; }

std::string ClientCutOffText(int slot, int groups) {
    return "OPC client in slot " + std::to_string(slot + 1) + " does not answer: its connection and " +
           std::to_string(groups) + (groups == 1 ? " group were" : " groups were") + " closed.";
}

void CutOffLostClients() {
    // A cut-off calls nobody, but the log's listener might show something: never inside itself.
    if (cuttingOff) return;
    cuttingOff = true;
    const ULONGLONG now = GetTickCount64();
    for (int i = 0; i < kServerSlotCount; ++i) {
        TDA2* server = ServerSlots[i];
        if (!server || !server->Delivery().Lost(now, stuckCallbackMs)) continue;
        const int groups = static_cast<int>(server->PrivateGroups().size() + server->PublicGroups().size());
        server->CutOff();
        if (clientLogListener) clientLogListener(ClientCutOffText(i, groups));
    }
    cuttingOff = false;
}

void StartClientWatch() { WatchClients(&CutOffLostClients); }

void SetClientLogListener(std::function<void(const std::string&)> listener) {
    clientLogListener = std::move(listener);
}

bool FlushDeliveries(DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        // Handling messages may end server objects: the slots are looked at afresh each time.
        bool idle = true;
        for (TDA2* server : ServerSlots)
            if (server && !server->Delivery().Idle()) idle = false;
        if (idle) return true;
        if (GetTickCount64() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

}  // namespace tw::opc
