// The server console's logic: how many server objects and groups exist, the shutdown request to one
// chosen client, and the console's "Register" and "Unregister". The Win32 view is ServerConsoleView.
#pragma once

#include <string>
#include <vector>

#include "libs/General.h"
#include "opc/registration/Registry.h"
#include "opc/server/ShutDownRequest.h"

namespace tw::opc {

extern const char kNoShutdownSupport[];  // shown when the chosen client's sink is no IOPCShutdown

struct TConsoleCounts {
    int clients = 0;  // occupied server slots
    int groups = 0;   // private and public groups of those server objects
};
TConsoleCounts ConsoleCounts();

class IServerConsoleView {
public:
    virtual ~IServerConsoleView() = default;
    virtual void SetCounts(const std::string& clients, const std::string& groups) = 0;  // ClientConLbl, GrpCountLbl
    virtual void EnableShutdownRequest(bool enabled) = 0;                              // SDButton
    virtual void CloseConsole() = 0;
    // The shutdown dialog, modal, with the first entry selected: the chosen entry's slot, or -1.
    virtual int ChooseServerToShutdown(const std::vector<TShutDownEntry>& entries) = 0;
    virtual void ShowPlainMessage(const std::string& text) = 0;
};

class TfrmOPCServerConsole {
public:
    TfrmOPCServerConsole(IServerConsoleView& view, IGeneral& general, IClassesRegistry& registry)
        : view_(view), general_(general), registry_(registry) {}

    void FormShow();
    // What UpdateServerConsole does while this console is the open one.
    void Refresh();
    void CloseBtnClick() { view_.CloseConsole(); }
    void RegSerBtnClick();
    void UnRegBtnClick();
    void SDButtonClick();

private:
    IServerConsoleView& view_;
    IGeneral& general_;
    IClassesRegistry& registry_;
};

// Makes a console the open one, which UpdateServerConsole refreshes, for the scope's duration.
class TOpenConsole {
public:
    explicit TOpenConsole(TfrmOPCServerConsole& console);
    ~TOpenConsole();
    TOpenConsole(const TOpenConsole&) = delete;
    TOpenConsole& operator=(const TOpenConsole&) = delete;
};

}  // namespace tw::opc
