#include "shell/RunController.h"

#include "acquisition/ModBusObjList.h"
#include "acquisition/PollingSwitch.h"
#include "libs/General.h"
#include "shell/EventLog.h"

#include <chrono>
#include <thread>

namespace tw {

TRunController::TRunController(IMainView& main, IRunView& view, IPasswordDialog& password, IGeneral& general,
                               TEventLog& log, TModBusObjList& devices, TRunHooks hooks)
    : main_(main),
      view_(view),
      password_(password),
      general_(general),
      log_(log),
      devices_(devices),
      hooks_(std::move(hooks)) {}

void TRunController::bbnStartClick() {
    // Every device probes at once on its own poll thread; meanwhile the window goes on, so anything
    // may happen before the wait ends, a Stop or another Start among them: whichever comes first
    // finishes this Start, and its lines come first in the log.
    if (starting_) FinishStart();
    const unsigned run = ++startRuns_;
    starting_ = true;
    view_.SetStartEnabled(false);
    // Starting a thousand poll threads takes a while too (under Wine, minutes on a busy machine).
    for (begun_ = 0; begun_ < devices_.Count();) {
        devices_[begun_++].BeginStart();
        if (begun_ % kStartPumpEvery == 0) {
            main_.ProcessMessages();
            if (!starting_ || startRuns_ != run) return;
        }
    }
    while (starting_ && startRuns_ == run && !AllStarted()) {
        main_.ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(kStartWaitStepMs));
    }
    if (starting_ && startRuns_ == run) FinishStart();
}

bool TRunController::AllStarted() const {
    for (int i = 0; i < devices_.Count(); ++i)
        if (!devices_[i].Started()) return false;
    return true;
}

void TRunController::FinishStart() {
    // Called inside the wait, it waits on without the window: a probe ends within its connect time-out.
    while (begun_ < devices_.Count()) devices_[begun_++].BeginStart();
    while (!AllStarted()) std::this_thread::sleep_for(std::chrono::milliseconds(kStartWaitStepMs));
    starting_ = false;
    TEventLog::TBatch batch(log_);
    for (int i = 0; i < devices_.Count(); ++i) {
        TModBusObj& device = devices_[i];
        if (device.Simulated) {
            log_.WriteLog("Device \"" + device.Description + "\" started in Simulation mode!");
            // Armed once: re-arming would push the one warning back with every further simulated device.
            if (!main_.TimerEnabled(tmrSimulatedMode)) main_.EnableTimer(tmrSimulatedMode, kSimulatedModeDelayMs);
        } else {
            log_.WriteLog("Device \"" + device.Description + "\" started!");
        }
    }
    log_.WriteLog("All enabled devices successfully started!");
    // Stays on after Stop: on-demand reads and writes still reach the devices.
    if (!main_.TimerEnabled(tmrDeviceState)) main_.EnableTimer(tmrDeviceState, kDeviceStateIntervalMs);
    view_.SetStopEnabled(true);
    view_.SetStartEnabled(false);
    view_.SetTrayImage(kTrayImageRunning);
}

void TRunController::bbnStopClick() {
    if (starting_) FinishStart();
    // Told all at once, the devices end together: the wait below lasts as long as the slowest one.
    for (int i = 0; i < devices_.Count(); ++i) devices_[i].RequestStop();
    TEventLog::TBatch batch(log_);
    for (int i = 0; i < devices_.Count(); ++i) {
        TModBusObj& device = devices_[i];
        device.Stop();
        log_.WriteLog("Device \"" + device.Description + "\" stopped!");
    }
    // "Start Polling" keeps its state and the grid refresh keeps running.
    SetPulse(false);
    view_.SetStopEnabled(false);
    view_.SetStartEnabled(true);
    view_.SetTrayImage(kTrayImageStopped);
}

// The scan loops read the switch instead of the timer: it follows the pulse timer's state exactly.
void TRunController::SetPulse(bool on) {
    if (on) {
        main_.EnableTimer(tmrOPCServerPulse, kPulseIntervalMs);
        PollingSwitch = main_.TimerEnabled(tmrOPCServerPulse);
    } else {
        PollingSwitch = false;
        main_.DisableTimer(tmrOPCServerPulse);
    }
}

void TRunController::cbxStartPollingClick() {
    const bool on = view_.StartPollingChecked();
    SetPulse(on);
    if (on)
        main_.EnableTimer(tmrRefresh, kRefreshIntervalMs);
    else
        main_.DisableTimer(tmrRefresh);
}

void TRunController::tstSettingsHide() {
    view_.SetStartPollingChecked(false);
    cbxStartPollingClick();
}

void TRunController::pclMainChange(int page) {
    if (activePage_ == tstSettings && page != tstSettings) tstSettingsHide();
    activePage_ = page;
    if (page != tstSettings || !hooks_.ProtectSettings || !hooks_.ProtectSettings()) return;
    const std::optional<std::string> typed = password_.Execute();
    if (typed && hooks_.PasswordMatches && hooks_.PasswordMatches(*typed)) return;
    main_.SetActivePage(tstMonitor);
    pclMainChange(tstMonitor);  // a page made active by the program changes nothing in the page control
}

bool TRunController::TimerTick(int timer) {
    switch (timer) {
    case tmrOPCServerPulse: tmrOPCServerPulseTimer(); return true;
    case tmrRefresh: tmrRefreshTimer(); return true;
    case tmrSimulatedMode: tmrSimulatedModeTimer(); return true;
    case tmrDeviceState: tmrDeviceStateTimer(); return true;
    default: return false;
    }
}

void TRunController::tmrOPCServerPulseTimer() {
    // A data callback to a client pumps window messages, so this timer fires again inside the pass.
    if (pulsing_ || !hooks_.PulseServers) return;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{pulsing_};
    pulsing_ = true;
    if (hooks_.RefreshDeviceStatus) hooks_.RefreshDeviceStatus();
    hooks_.PulseServers();
}

void TRunController::tmrRefreshTimer() {
    if (hooks_.RefreshTagValues) hooks_.RefreshTagValues();
}

void TRunController::tmrSimulatedModeTimer() {
    // Off before the modal box: its message loop keeps dispatching this window's timers.
    main_.DisableTimer(tmrSimulatedMode);
    general_.ShowMsg(kSimulatedModeWarning, mkWarning, mbOKOnly, 0);
}

void TRunController::tmrDeviceStateTimer() {
    if (hooks_.RefreshDeviceStatus) hooks_.RefreshDeviceStatus();
    TEventLog::TBatch batch(log_);  // a plant's network going down is a line per device
    for (int i = 0; i < devices_.Count(); ++i) {
        TModBusObj& device = devices_[i];
        const TCommState now = device.CommState.load(std::memory_order_relaxed);
        if (now == device.LoggedCommState || now == TCommState::Unknown) continue;
        // A device that answers from the start is no news; one that failed and answers again is.
        if (now == TCommState::Failing)
            log_.WriteLog("Device \"" + device.Description + "\" is not answering!");
        else if (device.LoggedCommState == TCommState::Failing)
            log_.WriteLog("Device \"" + device.Description + "\" is answering again.");
        device.LoggedCommState = now;
    }
}

void TRunController::bbnHideClick() {
    tstSettingsHide();
    main_.HideMainWindow();
}

void TRunController::bbnLocalOPCConsoleClick() {
    if (hooks_.ShowServerConsole) hooks_.ShowServerConsole();
}

}  // namespace tw
