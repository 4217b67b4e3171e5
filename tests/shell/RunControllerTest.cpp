#include "shell/RunController.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "../acquisition/DeviceTestSupport.h"
#include "ShellFakes.h"
#include "acquisition/ModBusObjList.h"

namespace tw::test {
namespace {

// Counts how often each timer was armed, and can refuse to arm one (SetTimer failing).
class TimerView : public FakeView {
public:
    std::map<int, int> armed;
    std::set<int> refused;
    void EnableTimer(int t, unsigned ms) override {
        ++armed[t];
        if (!refused.count(t)) FakeView::EnableTimer(t, ms);
    }
};

class FakeRunView : public IRunView {
public:
    bool startEnabled = true, stopEnabled = true, polling = false;
    std::vector<int> trayImages;
    int aboutShown = 0;
    void SetStartEnabled(bool e) override { startEnabled = e; }
    void SetStopEnabled(bool e) override { stopEnabled = e; }
    void SetTrayImage(int image) override { trayImages.push_back(image); }
    bool StartPollingChecked() const override { return polling; }
    void SetStartPollingChecked(bool c) override { polling = c; }
    void ShowAboutBox() override { ++aboutShown; }
};

class FakePassword : public IPasswordDialog {
public:
    std::optional<std::string> answer;
    int shown = 0;
    std::optional<std::string> Execute() override {
        ++shown;
        return answer;
    }
};

struct RunControllerTest : DeviceTest {
    TimerView view;
    FakeRunView runView;
    FakePassword password;
    FakeGeneral general;
    TEventLog log{view, general, [] { return std::tm{}; }};
    TModBusObjList devices;
    TRunHooks hooks;
    std::unique_ptr<TRunController> run;

    void SetUp() override { run = std::make_unique<TRunController>(view, runView, password, general, log, devices, hooks); }
    void Rebuild() { SetUp(); }
    void TearDown() override {
        for (int i = 0; i < devices.Count(); ++i) devices[i].Stop();  // before the data points go
        DeviceTest::TearDown();
    }

    TModBusObj& AddDevice(const std::string& description, int port) {
        TModBusObj& device = devices.Add();
        device.Description = description;
        device.SetConnection("127.0.0.1", port, 1);
        UseShortTimeOuts(device);
        return device;
    }
    std::vector<std::string> LogTexts() const {
        std::vector<std::string> texts;
        for (const std::string& line : view.lines) texts.push_back(line.substr(20));
        return texts;
    }
    void TickStartPolling(bool on) {
        runView.polling = on;
        run->cbxStartPollingClick();
    }
};

TEST_F(RunControllerTest, StartLogsEveryDeviceAndArmsOneWarningForAllSimulated) {
    TFakeDevice live;
    AddDevice("Pump", live.Port());
    AddDevice("Tank A", ClosedPort());
    AddDevice("Tank B", ClosedPort());
    run->bbnStartClick();

    EXPECT_EQ(LogTexts(), (std::vector<std::string>{"Device \"Pump\" started!",
                                                     "Device \"Tank A\" started in Simulation mode!",
                                                     "Device \"Tank B\" started in Simulation mode!",
                                                     "All enabled devices successfully started!"}));
    EXPECT_FALSE(devices[0].Simulated);
    EXPECT_TRUE(devices[2].Simulated);
    EXPECT_FALSE(runView.startEnabled);
    EXPECT_TRUE(runView.stopEnabled);
    EXPECT_EQ(runView.trayImages, std::vector<int>{kTrayImageRunning});
    // Armed by the first simulated device only: a second arming would delay the warning.
    EXPECT_EQ(view.armed[tmrSimulatedMode], 1);
    EXPECT_EQ(view.timers.at(tmrSimulatedMode), kSimulatedModeDelayMs);
    EXPECT_EQ(view.timers.count(tmrOPCServerPulse), 0u);

    EXPECT_TRUE(run->TimerTick(tmrSimulatedMode));
    EXPECT_FALSE(view.TimerEnabled(tmrSimulatedMode));
    ASSERT_EQ(general.shown.size(), 1u);
    EXPECT_EQ(general.shown[0].text, kSimulatedModeWarning);
    EXPECT_EQ(general.shown[0].kind, mkWarning);
    EXPECT_EQ(general.shown[0].buttons, mbOKOnly);

    view.lines.clear();
    run->bbnStopClick();
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{"Device \"Pump\" stopped!", "Device \"Tank A\" stopped!",
                                                     "Device \"Tank B\" stopped!"}));
    EXPECT_TRUE(runView.startEnabled);
    EXPECT_FALSE(runView.stopEnabled);
    EXPECT_EQ(runView.trayImages.back(), kTrayImageStopped);
}

// Every device is probed at once while the window goes on handling messages; the log still lists
// the devices in order once all are probed. A Stop pressed during the wait comes after the Start's
// lines, and the Start does not log again.
TEST_F(RunControllerTest, StartProbesEveryDeviceAtOnceAndLogsInListOrder) {
    TTcpListener gone;  // its queue full: connects get no answer, the probe waits out its time-out
    std::vector<TTcpSocket> queued;
    ASSERT_TRUE(FillAcceptQueue(gone.Port(), queued));
    TFakeDevice live;
    AddDevice("Tank A", gone.Port());
    AddDevice("Pump", live.Port());
    AddDevice("Tank B", ClosedPort());
    bool laterProbedFirst = false;
    view.onProcessMessages = [&] {
        EXPECT_TRUE(view.lines.empty()) << "logged before every device was probed";
        laterProbedFirst = laterProbedFirst || (!devices[0].Started() && devices[1].Started() && devices[2].Started());
    };
    run->bbnStartClick();
    EXPECT_TRUE(laterProbedFirst) << "the devices were probed one after the other, or the window waited";
    EXPECT_EQ(view.memoUpdates, 1) << "a memo update per line costs a plant minutes under Wine";
    const std::vector<std::string> started{"Device \"Tank A\" started in Simulation mode!", "Device \"Pump\" started!",
                                           "Device \"Tank B\" started in Simulation mode!",
                                           "All enabled devices successfully started!"};
    EXPECT_EQ(LogTexts(), started);
    run->bbnStopClick();

    view.lines.clear();
    int stops = 0;
    view.onProcessMessages = [&] {
        if (stops++ == 0) run->bbnStopClick();
    };
    run->bbnStartClick();
    std::vector<std::string> startedThenStopped = started;
    for (const char* d : {"Tank A", "Pump", "Tank B"}) startedThenStopped.push_back("Device \"" + std::string(d) + "\" stopped!");
    EXPECT_EQ(LogTexts(), startedThenStopped);
    EXPECT_TRUE(runView.startEnabled);
    EXPECT_FALSE(runView.stopEnabled);
    EXPECT_EQ(runView.trayImages.back(), kTrayImageStopped);
}

TEST_F(RunControllerTest, StartAndStopWithoutDevices) {
    run->bbnStopClick();  // the close stops scanning that never started
    EXPECT_TRUE(view.lines.empty());
    run->bbnStartClick();
    EXPECT_EQ(LogTexts(), std::vector<std::string>{"All enabled devices successfully started!"});
    EXPECT_EQ(view.armed.count(tmrSimulatedMode), 0u);
}

TEST_F(RunControllerTest, NothingIsReadBeforeStartPollingAndStopFreezesValues) {
    TFakeDevice peer;
    peer.SetRegister(40, 1234);
    TModBusObj& device = AddDevice("Pump", peer.Port());
    const int reg = AddPoint(device, 40);
    run->bbnStartClick();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(peer.Requests().empty());
    EXPECT_EQ(PointValue(reg), 0);

    TickStartPolling(true);
    EXPECT_EQ(view.timers.at(tmrOPCServerPulse), kPulseIntervalMs);
    EXPECT_EQ(view.timers.at(tmrRefresh), kRefreshIntervalMs);
    EXPECT_TRUE(PollingSwitch);
    ASSERT_TRUE(WaitUntil([&] { return PointValue(reg) == 1234; }));

    run->bbnStopClick();
    EXPECT_FALSE(PollingSwitch);
    EXPECT_FALSE(view.TimerEnabled(tmrOPCServerPulse));
    EXPECT_TRUE(view.TimerEnabled(tmrRefresh));
    EXPECT_TRUE(runView.polling);
    const std::size_t requests = peer.Requests().size();
    peer.SetRegister(40, 99);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(peer.Requests().size(), requests);
    EXPECT_EQ(PointValue(reg), 1234);

    // Started again, the box still ticked: polling waits until it is ticked anew.
    run->bbnStartClick();
    EXPECT_FALSE(PollingSwitch);
    run->bbnStopClick();
}

// One line when a device stops answering and one when it answers again, however often it is read
// and the log looks in between; a device that answers from the start is no news.
TEST_F(RunControllerTest, DeviceFailuresAreLoggedOncePerChange) {
    TFakeDevice peer;
    TModBusObj& device = AddDevice("Pump", peer.Port());
    AddPoint(device, 40);
    run->bbnStartClick();
    EXPECT_EQ(view.timers.at(tmrDeviceState), kDeviceStateIntervalMs);
    TickStartPolling(true);
    view.lines.clear();
    const auto settle = [&](TCommState state) {
        const std::size_t reads = peer.Requests().size();
        ASSERT_TRUE(WaitUntil([&] { return device.CommState.load() == state && peer.Requests().size() > reads + 2; }));
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(run->TimerTick(tmrDeviceState));
    };
    settle(TCommState::Answering);
    EXPECT_TRUE(view.lines.empty());
    peer.SetMode(TFakeDevice::Silent);
    settle(TCommState::Failing);
    peer.SetMode(TFakeDevice::HangingUp);
    settle(TCommState::Failing);
    peer.SetMode(TFakeDevice::Answering);
    settle(TCommState::Answering);
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{"Device \"Pump\" is not answering!",
                                                     "Device \"Pump\" is answering again."}));
    run->bbnStopClick();
    EXPECT_TRUE(view.TimerEnabled(tmrDeviceState));  // on-demand access goes on after Stop
}

TEST_F(RunControllerTest, LeavingTheSettingsPageOrHidingClearsStartPolling) {
    run->pclMainChange(tstSettings);
    TickStartPolling(true);
    run->pclMainChange(tstMonitor);
    EXPECT_FALSE(runView.polling);
    EXPECT_FALSE(PollingSwitch);
    EXPECT_TRUE(view.timers.empty());

    run->pclMainChange(tstSettings);
    TickStartPolling(true);
    run->bbnHideClick();
    EXPECT_FALSE(runView.polling);
    EXPECT_FALSE(PollingSwitch);
    EXPECT_TRUE(view.timers.empty());
    EXPECT_EQ(view.calls, std::vector<std::string>{"hide"});
}

TEST_F(RunControllerTest, PollingSwitchStaysOffWhenThePulseTimerCannotBeArmed) {
    view.refused.insert(tmrOPCServerPulse);
    TickStartPolling(true);
    EXPECT_FALSE(PollingSwitch);
}

TEST_F(RunControllerTest, SettingsGate) {
    hooks.ProtectSettings = [] { return true; };
    hooks.PasswordMatches = [](const std::string& typed) { return typed.empty(); };  // empty stored password
    Rebuild();
    view.page = tstSettings;

    password.answer = "";  // OK with an empty entry
    run->pclMainChange(tstSettings);
    EXPECT_EQ(view.page, tstSettings);

    run->pclMainChange(tstMonitor);
    password.answer = "secret";
    run->pclMainChange(tstSettings);
    EXPECT_EQ(view.page, tstMonitor);

    password.answer.reset();  // Cancel
    run->pclMainChange(tstSettings);
    EXPECT_EQ(view.page, tstMonitor);
    EXPECT_EQ(password.shown, 3);
    EXPECT_TRUE(general.shown.empty());

    hooks.ProtectSettings = [] { return false; };
    Rebuild();
    run->pclMainChange(tstSettings);
    EXPECT_EQ(password.shown, 3);
}

TEST_F(RunControllerTest, PulseNeverRunsInsideItself) {
    int passes = 0, nested = 0;
    std::vector<int> refreshedAfter;  // passes run when the device status items were refreshed
    hooks.RefreshDeviceStatus = [&] { refreshedAfter.push_back(passes); };
    hooks.PulseServers = [&] {
        ++passes;
        // An outgoing COM call pumps messages: the pulse timer fires again meanwhile.
        if (passes == 1) {
            run->TimerTick(tmrOPCServerPulse);
            ++nested;
            throw std::runtime_error("client went away");
        }
    };
    Rebuild();
    EXPECT_THROW(run->TimerTick(tmrOPCServerPulse), std::runtime_error);
    EXPECT_EQ(passes, 1);
    EXPECT_EQ(nested, 1);
    run->TimerTick(tmrOPCServerPulse);  // the guard is released however the pass ended
    EXPECT_EQ(passes, 2);
    EXPECT_FALSE(run->TimerTick(tmrStart));
    // Before each pass, so that it reports them at once; and with the device-state look.
    run->TimerTick(tmrDeviceState);
    EXPECT_EQ(refreshedAfter, (std::vector<int>{0, 1, 2}));
}

}  // namespace
}  // namespace tw::test
