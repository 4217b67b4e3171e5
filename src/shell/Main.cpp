#include "shell/Main.h"

#include <cstring>
#include <exception>

#include "libs/General.h"

namespace tw {

namespace {
// The program's fixed database password.
constexpr char kDatabasePassword[] = "masterkey";
constexpr unsigned kStartDelayMs = 2000;
constexpr unsigned kHideDelayMs = 1;
constexpr unsigned kCloseWaitMs = 5000;
constexpr unsigned kCloseWaitStepMs = 100;
}  // namespace

TfrmMain::TfrmMain(IMainView& view, IDataAccess& db, IGeneral& general, std::string exeFolder, TMainHooks hooks,
                   TEventLog::Clock clock)
    : view_(view),
      db_(db),
      general_(general),
      exeFolder_(std::move(exeFolder)),
      hooks_(std::move(hooks)),
      log_(view, general, std::move(clock)) {}

void TfrmMain::FormCreate() {
    try {
        view_.SetActivePage(tstMonitor);
        const std::string path = DatabasePath();
        WriteLog("Connecting to database \"" + path + "\".");
        connection_ = db_.ConnectDB(path, kDatabaseUser, kDatabasePassword, view_.AppHandle(), true);
        // Not examined here: later database operations report their own failures.
        WriteLog("Database \"" + path + "\" connected.");
        Call(hooks_.SetGridTitles);
        Call(hooks_.CreateDeviceList);
        if (hooks_.LoadSettings) hooks_.LoadSettings(false);
        startup_ = true;
        Call(hooks_.BuildTagTable);
        view_.EnableTimer(tmrStart, kStartDelayMs);
    } catch (const std::exception& e) {
        // The window still opens; the remaining steps (tag table, automatic start) are skipped.
        general_.ShowMsg(e.what(), mkError, mbOKOnly, 0);
    }
}

void TfrmMain::FormShow() {
    SelectedGridRow = 1;
    if (startup_) view_.EnableTimer(tmrHide, kHideDelayMs);
}

bool TfrmMain::FormClose() {
    if (exitConfirmation_ && general_.ShowMsg(kExitConfirmation, mkConfirmation, mbYesCancel, 0) != mrYes)
        return false;
    // The wait below handles window messages: a pending automatic start or simulation warning must not
    // start scanning again or hold the close on a message box.
    view_.DisableTimer(tmrStart);
    view_.DisableTimer(tmrSimulatedMode);
    Call(hooks_.StopScanning);
    WriteLog("Shutting down OPC server. Please wait...");
    Call(hooks_.RequestClientShutdown);
    view_.EnableTimer(tmrOPCServerClosed, kCloseWaitMs);
    // Clients that never let go hold the close only until the timer's first tick.
    while (hooks_.CountConnectedClients && hooks_.CountConnectedClients() > 0 &&
           view_.TimerEnabled(tmrOPCServerClosed)) {
        view_.SleepMs(kCloseWaitStepMs);
        view_.ProcessMessages();
    }
    view_.DisableTimer(tmrOPCServerClosed);
    Call(hooks_.FreeDataPoints);
    return true;
}

void TfrmMain::FormDestroy() {
    Call(hooks_.FreeDeviceList);
    db_.DisconnectDB(connection_, true);
    Call(hooks_.ReleaseTagArrays);
}

void TfrmMain::TimerTick(int timer) {
    switch (timer) {
    case tmrStart:
        view_.DisableTimer(tmrStart);
        if (hooks_.HasDevices && hooks_.HasDevices()) Call(hooks_.StartScanning);
        break;
    case tmrHide:
        view_.DisableTimer(tmrHide);
        startup_ = false;
        view_.ShowMainWindow();
        // Shown and hidden at once: only the tray icon stays.
        if (HideOnStartup) view_.HideMainWindow();
        break;
    case tmrOPCServerClosed:
        view_.DisableTimer(tmrOPCServerClosed);
        break;
    default:
        break;
    }
}

void TfrmMain::CopyData(const void* data, std::size_t size) {
    if (!data) return;
    const char* text = static_cast<const char*>(data);
    const void* nul = std::memchr(text, '\0', size);
    std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : size;
    if (length > kCopyDataMaxChars) length = kCopyDataMaxChars;
    if (std::string(text, length) != kExitMessage) return;
    exitConfirmation_ = false;
    view_.CloseMainWindow();
}

void TfrmMain::bbCloseClick() {
    exitConfirmation_ = true;
    view_.CloseMainWindow();
}

void TfrmMain::BitBtn2Click() { log_.Clear(); }

}  // namespace tw
