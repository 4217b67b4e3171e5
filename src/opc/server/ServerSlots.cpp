#include "opc/server/ServerSlots.h"

#include <objbase.h>

#include <utility>

#include "opc/server/ServIMPL.h"

namespace tw::opc {
namespace {

DWORD groupHandleCounter = 1;
bool pulseRunning = false;
std::function<void()> consoleListener;

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
    for (int i = 0; i < kServerSlotCount; ++i) {
        TDA2* server = ServerSlots[i];
        if (!server) continue;
        // A client may release the server object inside a callback of this pass.
        server->AddRef();
        server->PulseServer(now);
        server->Release();
    }
    pulseRunning = false;
}

void DisconnectAllServers() {
    for (int i = kServerSlotCount - 1; i >= 0; --i) {
        // Also cuts clients that hold a connection point, which would keep the object past COM's end.
        if (TDA2* server = ServerSlots[i]) server->DisconnectClients();
    }
}

void SetServerConsoleListener(std::function<void()> listener) { consoleListener = std::move(listener); }

void UpdateServerConsole() {
    if (consoleListener) consoleListener();
}

}  // namespace tw::opc
