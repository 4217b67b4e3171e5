// The main window's life cycle apart from its widgets: creation, first showing, the close in order,
// the "Exit" message and destruction. The Win32 view turns messages into these calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "libs/DataAccess.h"
#include "shell/EventLog.h"

namespace tw {

class IGeneral;

enum TMainTimer : int {
    tmrStart = 1,
    tmrHide,
    tmrOPCServerClosed,
    tmrOPCServerPulse,
    tmrRefresh,
    tmrSimulatedMode,
    tmrDeviceState,
};

enum TMainPage : int { tstMonitor = 0, tstSettings = 1 };

inline constexpr char kAppTitle[] = "Velmora Tarnowick";
inline constexpr char kDatabaseFileName[] = "TARNOWICK.GDB";
inline constexpr char kDatabaseUser[] = "SYSDBA";
inline constexpr char kExitConfirmation[] = "Are you sure to exit Velmora Tarnowick?";
inline constexpr char kExitMessage[] = "Exit";
inline constexpr std::size_t kCopyDataMaxChars = 99;

// What the logic needs of the window.
class IMainView : public ILogMemo {
public:
    virtual void SetActivePage(int page) = 0;
    virtual void EnableTimer(int timer, unsigned intervalMs) = 0;
    virtual void DisableTimer(int timer) = 0;
    virtual bool TimerEnabled(int timer) const = 0;
    virtual void ShowMainWindow() = 0;
    virtual void HideMainWindow() = 0;
    virtual void CloseMainWindow() = 0;  // runs FormClose, then destroys the window if it agrees
    virtual std::uintptr_t AppHandle() const = 0;
    // The close wait: sleep, then handle pending window messages (timers, incoming client calls).
    virtual void SleepMs(unsigned ms) = 0;
    virtual void ProcessMessages() = 0;
};

// Steps that belong to other parts of the system (device list, settings load, tag table, run
// controller, OPC shutdown). Unset hooks do nothing.
struct TMainHooks {
    std::function<void()> CreateDeviceList;           // FormCreate: the empty, owning device list
    std::function<void(bool afterSave)> LoadSettings;  // FormCreate: the first load
    std::function<void()> SetGridTitles;               // FormCreate: the register grid's column titles
    std::function<void()> BuildTagTable;               // FormCreate: once, after the first load
    std::function<bool()> HasDevices;                  // tmrStart: anything to start?
    std::function<void()> StartScanning;               // the Start action
    std::function<void()> StopScanning;                // the Stop action
    std::function<void()> RequestClientShutdown;       // FormClose: ask every advised client to let go
    std::function<int()> CountConnectedClients;        // FormClose: clients still holding the server
    std::function<void()> FreeDataPoints;              // FormClose: last step
    std::function<void()> FreeDeviceList;              // FormDestroy
    std::function<void()> ReleaseTagArrays;            // FormDestroy
};

class TfrmMain {
public:
    TfrmMain(IMainView& view, IDataAccess& db, IGeneral& general, std::string exeFolder, TMainHooks hooks = {},
             TEventLog::Clock clock = {});

    void FormCreate();
    void FormShow();
    // true: the close goes ahead; false: it was cancelled.
    bool FormClose();
    void FormDestroy();
    void TimerTick(int timer);
    // WM_COPYDATA: "Exit" closes without asking.
    void CopyData(const void* data, std::size_t size);
    void bbCloseClick();   // Exit button
    void bbnStartClick() { Call(hooks_.StartScanning); }
    void bbnStopClick() { Call(hooks_.StopScanning); }
    void BitBtn2Click();   // Clear button

    TEventLog& Log() { return log_; }
    void WriteLog(const std::string& text) { log_.WriteLog(text); }
    std::string DatabasePath() const { return exeFolder_ + kDatabaseFileName; }
    DbConnection Connection() const { return connection_; }
    bool StartupFlag() const { return startup_; }
    bool ExitConfirmation() const { return exitConfirmation_; }

    // "Hide on Startup" as read at the last settings load.
    bool HideOnStartup = false;
    // The register grid row remembered for the Settings page.
    int SelectedGridRow = 0;

private:
    static void Call(const std::function<void()>& f) {
        if (f) f();
    }

    IMainView& view_;
    IDataAccess& db_;
    IGeneral& general_;
    std::string exeFolder_;
    TMainHooks hooks_;
    TEventLog log_;
    DbConnection connection_ = 0;
    bool startup_ = false;
    bool exitConfirmation_ = true;
};

}  // namespace tw
