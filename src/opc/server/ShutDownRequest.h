// Asking OPC clients to let go of their server objects, and counting the clients that still hold one.
#pragma once

#include <string>
#include <vector>

namespace tw::opc {

class TDA2;

extern const char kShutdownReason[];  // sent with every request

enum class TShutdownAnswer { NoSink, Sent, NotSupported };

// Sends the request to the sink the server object's client advised, if it answers IOPCShutdown. A
// remote client gets it from its delivery thread (Sent means queued); an in-process sink is called at
// once: incoming calls and timers run meanwhile, and the client may let go inside the call.
TShutdownAnswer RequestClientShutdown(TDA2& server);
// The close of the application: every occupied slot in slot order, whatever the answers.
void RequestShutdownOfEveryClient();
// Occupied slots whose server object still has a connected client.
int CountConnectedClients();

// The shutdown dialog's choices: one entry per occupied slot, named by the slot index plus 1.
struct TShutDownEntry {
    std::string text;
    int slot;
};
std::vector<TShutDownEntry> ShutDownEntries();

}  // namespace tw::opc
