// The main window's operating side: Start and Stop of every device, the "Start Polling" switch and the
// timers it drives, the tray image, hiding and showing, and the password gate in front of the Settings
// page. Widgets stay in the Win32 view; this class decides.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "shell/Main.h"

namespace tw {

class IGeneral;
class TEventLog;
class TModBusObjList;

inline constexpr unsigned kPulseIntervalMs = 10;
inline constexpr unsigned kRefreshIntervalMs = 100;
inline constexpr unsigned kSimulatedModeDelayMs = 3000;
// How often the event log looks for devices that stopped or resumed answering.
inline constexpr unsigned kDeviceStateIntervalMs = 500;
// How often Start looks whether every device has been probed, handling window messages in between.
inline constexpr unsigned kStartWaitStepMs = 10;
// Start handles window messages after starting this many devices' poll threads, too.
inline constexpr int kStartPumpEvery = 16;
inline constexpr char kSimulatedModeWarning[] = "Some devices could not be connected, thus running simulation mode!";
inline constexpr int kTrayImageStopped = 0;
inline constexpr int kTrayImageRunning = 1;

// The controls the run controller sets beyond what IMainView offers.
class IRunView {
public:
    virtual ~IRunView() = default;
    virtual void SetStartEnabled(bool enabled) = 0;  // bbnStart
    virtual void SetStopEnabled(bool enabled) = 0;   // bbnStop
    // tniIcon shows this image of imlIcons: 0 stopped, 1 running.
    virtual void SetTrayImage(int image) = 0;
    virtual bool StartPollingChecked() const = 0;  // cbxStartPolling
    // Must not run the click handler: the controller runs it itself where it has to.
    virtual void SetStartPollingChecked(bool checked) = 0;
    virtual void ShowAboutBox() = 0;  // modal
};

// TPasswordDlg: the typed text after OK, nothing after Cancel or a closed dialog.
class IPasswordDialog {
public:
    virtual ~IPasswordDialog() = default;
    virtual std::optional<std::string> Execute() = 0;
};

// What other parts provide. Unset hooks do nothing (and an unset gate lets everyone in).
struct TRunHooks {
    std::function<void()> PulseServers;                        // every occupied server slot, once
    // The device status items from the device objects: before each pulse, so that a pass reports what
    // changed at once, and with the device-state look, so that they stay current with polling off.
    std::function<void()> RefreshDeviceStatus;
    std::function<void()> RefreshTagValues;                    // the grid's "Tag Value" column
    std::function<bool()> ProtectSettings;                     // as read at the last settings load
    std::function<bool(const std::string&)> PasswordMatches;   // exact, case-sensitive
    std::function<void()> ShowServerConsole;                   // "Local OPC Server", modal
};

class TRunController {
public:
    TRunController(IMainView& main, IRunView& view, IPasswordDialog& password, IGeneral& general, TEventLog& log,
                   TModBusObjList& devices, TRunHooks hooks = {});

    void bbnStartClick();
    void bbnStopClick();
    void cbxStartPollingClick();
    void tstSettingsHide();
    // The page control's change: page is the page now active.
    void pclMainChange(int page);

    // The timers this controller owns; false for any other timer.
    bool TimerTick(int timer);
    void tmrOPCServerPulseTimer();
    void tmrRefreshTimer();
    void tmrSimulatedModeTimer();
    // One event log line per device whose reads started failing or succeed again since the last look.
    void tmrDeviceStateTimer();

    void bbnHideClick();
    void tniIconClick() { main_.ShowMainWindow(); }
    void Show1Click() { main_.ShowMainWindow(); }
    void bbnAboutClick() { view_.ShowAboutBox(); }
    void About1Click() { view_.ShowAboutBox(); }
    void E1Click() { main_.CloseMainWindow(); }
    void bbnLocalOPCConsoleClick();

private:
    void SetPulse(bool on);
    bool AllStarted() const;
    // The rest of Start once every device has been probed: its lines in list order, timers, buttons.
    void FinishStart();

    IMainView& main_;
    IRunView& view_;
    IPasswordDialog& password_;
    IGeneral& general_;
    TEventLog& log_;
    TModBusObjList& devices_;
    TRunHooks hooks_;
    int activePage_ = tstMonitor;
    bool pulsing_ = false;
    bool starting_ = false;    // a Start waits for its probes
    unsigned startRuns_ = 0;   // tells a Start whether a later one took over while it waited
    int begun_ = 0;            // devices whose start the waiting Start has begun
};

}  // namespace tw
