#include "opc/server/opcSvConsole.h"

#include "opc/registration/ConsoleRegistration.h"
#include "opc/server/ServIMPL.h"
#include "opc/server/ServerSlots.h"

namespace tw::opc {

const char kNoShutdownSupport[] = "The client does not support IOPCShutdown.";

TConsoleCounts ConsoleCounts() {
    TConsoleCounts counts;
    for (TDA2* server : ServerSlots) {
        if (!server) continue;
        ++counts.clients;
        counts.groups += static_cast<int>(server->PrivateGroups().size() + server->PublicGroups().size());
    }
    return counts;
}

void TfrmOPCServerConsole::FormShow() { UpdateServerConsole(); }

void TfrmOPCServerConsole::Refresh() {
    const TConsoleCounts counts = ConsoleCounts();
    view_.SetCounts(std::to_string(counts.clients), std::to_string(counts.groups));
    view_.EnableShutdownRequest(counts.clients > 0);
}

void TfrmOPCServerConsole::RegSerBtnClick() { opc::RegSerBtnClick(general_, registry_); }

void TfrmOPCServerConsole::UnRegBtnClick() { opc::UnRegBtnClick(general_, registry_); }

void TfrmOPCServerConsole::SDButtonClick() {
    const int slot = view_.ChooseServerToShutdown(ShutDownEntries());
    // The client may have gone while the dialog was open.
    if (slot < 0 || slot >= kServerSlotCount || !ServerSlots[slot]) return;
    if (RequestClientShutdown(*ServerSlots[slot]) == TShutdownAnswer::NotSupported)
        view_.ShowPlainMessage(kNoShutdownSupport);
}

TOpenConsole::TOpenConsole(TfrmOPCServerConsole& console) {
    SetServerConsoleListener([&console] { console.Refresh(); });
}

TOpenConsole::~TOpenConsole() { SetServerConsoleListener(nullptr); }

}  // namespace tw::opc
