#include "opc/server/ShutDownRequest.h"

#include "OPCCOMN.h"
#include "opc/ComText.h"
#include "opc/server/ServIMPL.h"
#include "opc/server/ServerSlots.h"

namespace tw::opc {

const char kShutdownReason[] = "Velmora Tarnowick IOPCShutdown request.";

TShutdownAnswer RequestClientShutdown(TDA2& server) {
    IUnknown* sink = server.ShutdownSink();
    if (!sink) return TShutdownAnswer::NoSink;
    IOPCShutdown* shutdown = nullptr;
    if (FAILED(sink->QueryInterface(IID_IOPCShutdown, reinterpret_cast<void**>(&shutdown))) || !shutdown)
        return TShutdownAnswer::NotSupported;
    // The client may release the server object, and with it the sink, during the call.
    server.AddRef();
    shutdown->ShutdownRequest(Widen(kShutdownReason).c_str());
    shutdown->Release();
    server.Release();
    return TShutdownAnswer::Sent;
}

void RequestShutdownOfEveryClient() {
    for (int i = 0; i < kServerSlotCount; ++i)
        if (TDA2* server = ServerSlots[i]) RequestClientShutdown(*server);
}

int CountConnectedClients() {
    int n = 0;
    for (TDA2* server : ServerSlots)
        if (server && CoIsHandlerConnected(static_cast<IOPCServer*>(server))) ++n;
    return n;
}

std::vector<TShutDownEntry> ShutDownEntries() {
    std::vector<TShutDownEntry> entries;
    for (int i = 0; i < kServerSlotCount; ++i)
        if (ServerSlots[i]) entries.push_back({std::to_string(i + 1), i});
    return entries;
}

}  // namespace tw::opc
