// Process-wide registry of live server objects and the counters they share. Everything here runs on
// the main (apartment) thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

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

// Process end: cuts every remaining server object off from its clients (TDA2::CutOff: without calling
// them), from the last slot down, and releases their sinks where they have answered since.
void DisconnectAllServers();
// After DisconnectAllServers: false when a hung client's sinks are still held. Ending the main
// apartment would release them, and wait for that client: the process ends without.
bool MainApartmentMayEnd();

// The server console refreshes itself through this; nothing is called until a listener is set.
void SetServerConsoleListener(std::function<void()> listener);
void UpdateServerConsole();

// How long one callback may be under way before its client counts as hung: a client that shows a
// message box inside a callback is not cut off for that, one that has stopped for good is.
constexpr ULONGLONG kStuckCallbackMs = 60000;
void SetStuckCallbackLimit(ULONGLONG ms);  // tests shorten it
// Cuts off every server object whose client no longer answers (a call to one of its sinks failed as
// only a vanished client's calls fail, or one callback has been under way for longer than the limit),
// with one event-log line each. Runs on the main thread when a delivery thread reports a lost client
// and once a second (see StartClientWatch).
void CutOffLostClients();
// Main thread, at the first server object: from then on the message loop runs CutOffLostClients.
void StartClientWatch();
// The event-log line for a client cut off in slot (0 to 30) with that many groups.
std::string ClientCutOffText(int slot, int groups);
// The event log hears of cut-off clients through this; nothing is logged until a listener is set.
void SetClientLogListener(std::function<void(const std::string&)> listener);
// Tests and benchmarks: waits (handling window messages) until every server object's callbacks are
// delivered; false after timeoutMs.
bool FlushDeliveries(DWORD timeoutMs);

}  // namespace tw::opc
