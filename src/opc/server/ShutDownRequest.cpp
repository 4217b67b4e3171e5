#include "opc/server/ShutDownRequest.h"

#include <memory>

#include "OPCCOMN.h"
#include "opc/ComText.h"
#include "opc/server/ServIMPL.h"
#include "opc/server/ServerSlots.h"

namespace tw::opc {

const char kShutdownReason[] = "Velmora Tarnowick IOPCShutdown request.";

TShutdownAnswer RequestClientShutdown(TDA2& server) {
    if (!server.ShutdownSink()) return TShutdownAnswer::NoSink;
    // A remote sink was asked for IOPCShutdown when it was advised; the request goes to the client's
    // thread, so a hung client holds up nobody.
    const uint32_t link = server.ShutdownLink();
    if (!link) return TShutdownAnswer::NotSupported;
    auto request = std::make_unique<TDelivery>(TDeliveryKind::Shutdown, 0, 0, 0);
    request->Reason = Widen(kShutdownReason);
    // An in-process sink is called at once, and its client may release the server object inside.
    server.AddRef();
    const bool made = server.Delivery().Send(link, std::move(request));
    server.Release();
    return made ? TShutdownAnswer::Sent : TShutdownAnswer::NotSupported;
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
