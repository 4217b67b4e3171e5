// Process-wide registry of live server objects and the counters they share. Everything here runs on
// the main (apartment) thread.
#pragma once

#include <windows.h>

#include <functional>

namespace tw::opc {

class TDA2;

constexpr int kServerSlotCount = 31;

// Empty slots are null. A server object occupies the lowest free slot from creation to destruction.
extern TDA2* ServerSlots[kServerSlotCount];

int LowestFreeServerSlot();  // -1 when all are taken
int CountServerObjects();

// Group server handles: the first one issued in the process is 2; never reused.
DWORD NextGroupHandle();

// The pulse timer's work: PulseServer on every occupied slot in slot order. A call made while a
// pass is running (an outgoing callback pumps the timer) returns at once.
void PulseServers(double now);

// Process end: cuts every remaining server object off from its clients, from the last slot down.
void DisconnectAllServers();

// The server console refreshes itself through this; nothing is called until a listener is set.
void SetServerConsoleListener(std::function<void()> listener);
void UpdateServerConsole();

}  // namespace tw::opc
