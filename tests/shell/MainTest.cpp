#include "shell/Main.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "ShellFakes.h"
#include "shell/AppInit.h"

namespace tw::test {
namespace {

struct MainTest : ::testing::Test {
    FakeView view;
    FakeGeneral general;
    FakeDataAccess db;
    std::vector<std::string> steps;
    TMainHooks hooks;

    std::unique_ptr<TfrmMain> Make() {
        return std::make_unique<TfrmMain>(view, db, general, "C:\\Apps\\Gw\\", hooks);
    }
    void Record(std::function<void()>& hook, const std::string& name) {
        hook = [this, name] { steps.push_back(name); };
    }
};

TEST_F(MainTest, CreateConnectsThenLoadsThenBuildsTagsThenArmsStartTimer) {
    Record(hooks.SetGridTitles, "titles");
    Record(hooks.CreateDeviceList, "devices");
    hooks.LoadSettings = [this](bool afterSave) { steps.push_back(afterSave ? "load(true)" : "load(false)"); };
    hooks.BuildTagTable = [this] { steps.push_back(view.TimerEnabled(tmrStart) ? "tags-late" : "tags"); };
    auto form = Make();
    form->FormCreate();

    EXPECT_EQ(view.page, tstMonitor);
    ASSERT_EQ(view.lines.size(), 2u);
    EXPECT_EQ(view.lines[0].substr(20), "Connecting to database \"C:\\Apps\\Gw\\TARNOWICK.GDB\".");
    EXPECT_EQ(view.lines[1].substr(20), "Database \"C:\\Apps\\Gw\\TARNOWICK.GDB\" connected.");
    ASSERT_EQ(db.calls.size(), 1u);
    EXPECT_EQ(db.calls[0], "connect C:\\Apps\\Gw\\TARNOWICK.GDB SYSDBA masterkey 4660 1");
    EXPECT_EQ(form->Connection(), 77u);
    EXPECT_EQ(steps, (std::vector<std::string>{"titles", "devices", "load(false)", "tags"}));
    EXPECT_TRUE(form->StartupFlag());
    EXPECT_EQ(view.timers.at(tmrStart), 2000u);
}

TEST_F(MainTest, ErrorDuringLoadIsShownAndSkipsTagTableAndAutoStart) {
    hooks.LoadSettings = [](bool) { throw EDatabaseError("Field 'PORT' not found"); };
    Record(hooks.BuildTagTable, "tags");
    auto form = Make();
    form->FormCreate();
    ASSERT_EQ(general.shown.size(), 1u);
    EXPECT_EQ(general.shown[0].text, "Field 'PORT' not found");
    EXPECT_EQ(general.shown[0].kind, mkError);
    EXPECT_EQ(general.shown[0].buttons, mbOKOnly);
    EXPECT_TRUE(steps.empty());
    EXPECT_FALSE(view.TimerEnabled(tmrStart));
    EXPECT_FALSE(form->StartupFlag());
}

TEST_F(MainTest, StartTimerFiresOnceAndStartsOnlyWithDevices) {
    bool any = false;
    hooks.HasDevices = [&] { return any; };
    Record(hooks.StartScanning, "start");
    auto form = Make();
    form->FormCreate();
    form->TimerTick(tmrStart);
    EXPECT_FALSE(view.TimerEnabled(tmrStart));
    EXPECT_TRUE(steps.empty());

    any = true;
    form->FormCreate();
    form->TimerTick(tmrStart);
    EXPECT_EQ(steps, std::vector<std::string>{"start"});
}

TEST_F(MainTest, HideTimerShowsOrShowsAndHides) {
    auto form = Make();
    form->FormShow();  // before creation finished: no hide timer
    EXPECT_FALSE(view.TimerEnabled(tmrHide));
    form->FormCreate();
    form->FormShow();
    EXPECT_EQ(form->SelectedGridRow, 1);
    EXPECT_EQ(view.timers.at(tmrHide), 1u);
    form->TimerTick(tmrHide);
    EXPECT_FALSE(view.TimerEnabled(tmrHide));
    EXPECT_FALSE(form->StartupFlag());
    EXPECT_EQ(view.calls, std::vector<std::string>{"show"});

    view.calls.clear();
    auto hidden = Make();
    hidden->HideOnStartup = true;
    hidden->FormCreate();
    hidden->FormShow();
    hidden->TimerTick(tmrHide);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"show", "hide"}));
}

TEST_F(MainTest, CloseAsksFirstAndCancelLeavesScanningRunning) {
    Record(hooks.StopScanning, "stop");
    Record(hooks.FreeDataPoints, "free");
    auto form = Make();
    general.answers = {2};  // Cancel
    EXPECT_FALSE(form->FormClose());
    ASSERT_EQ(general.shown.size(), 1u);
    EXPECT_EQ(general.shown[0].text, "Are you sure to exit Velmora Tarnowick?");
    EXPECT_EQ(general.shown[0].kind, mkConfirmation);
    EXPECT_EQ(general.shown[0].buttons, mbYesCancel);
    EXPECT_TRUE(steps.empty());
    EXPECT_TRUE(view.lines.empty());

    general.answers = {mrYes};
    EXPECT_TRUE(form->FormClose());
    EXPECT_EQ(steps, (std::vector<std::string>{"stop", "free"}));
    ASSERT_EQ(view.lines.size(), 1u);
    EXPECT_EQ(view.lines[0].substr(20), "Shutting down OPC server. Please wait...");
}

TEST_F(MainTest, CloseWaitsForClientsUntilTheyLetGo) {
    int clients = 2, polls = 0;
    hooks.CountConnectedClients = [&] { return clients; };
    Record(hooks.RequestClientShutdown, "shutdown");
    view.onProcessMessages = [&] {
        if (++polls == 3) clients = 0;
    };
    general.answers = {mrYes};
    auto form = Make();
    EXPECT_TRUE(form->FormClose());
    EXPECT_EQ(steps, std::vector<std::string>{"shutdown"});
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(view.slept, 300u);
    EXPECT_FALSE(view.TimerEnabled(tmrOPCServerClosed));
}

// Closed soon after start, with a client holding on: the close wait handles messages, and neither the
// automatic start nor the simulation warning may fire inside it.
TEST_F(MainTest, CloseWaitStartsNothingAndShowsNoWarning) {
    hooks.HasDevices = [] { return true; };
    Record(hooks.StartScanning, "start");
    Record(hooks.StopScanning, "stop");
    int clients = 1;
    hooks.CountConnectedClients = [&] { return clients; };
    general.answers = {mrYes};
    auto form = Make();
    form->FormCreate();
    view.EnableTimer(tmrSimulatedMode, 3000);  // armed by a Start just before
    view.onProcessMessages = [&] {
        // What the message loop would deliver now: every timer still armed ticks.
        if (view.TimerEnabled(tmrStart)) form->TimerTick(tmrStart);
        EXPECT_FALSE(view.TimerEnabled(tmrSimulatedMode));
        clients = 0;
    };
    steps.clear();
    EXPECT_TRUE(form->FormClose());
    EXPECT_EQ(steps, std::vector<std::string>{"stop"});
}

TEST_F(MainTest, CloseWaitEndsWhenTheTimerTicksEvenIfAClientHolds) {
    hooks.CountConnectedClients = [] { return 1; };
    int polls = 0;
    general.answers = {mrYes};
    auto form = Make();
    view.onProcessMessages = [&] {
        EXPECT_EQ(view.timers.at(tmrOPCServerClosed), 5000u);
        if (++polls == 50) form->TimerTick(tmrOPCServerClosed);  // about 5 s of 100 ms steps
    };
    EXPECT_TRUE(form->FormClose());
    EXPECT_EQ(polls, 50);
}

TEST_F(MainTest, ExitMessageClosesWithoutQuestionOthersIgnored) {
    auto form = Make();
    form->CopyData("exit", 4);
    form->CopyData("Exit ", 5);
    form->CopyData(nullptr, 4);
    std::string longBlock = "Exit" + std::string(200, 'x');
    form->CopyData(longBlock.data(), longBlock.size());
    std::string cut99(99, 'A');
    form->CopyData(cut99.data(), cut99.size());
    EXPECT_TRUE(view.calls.empty());
    EXPECT_TRUE(form->ExitConfirmation());

    form->CopyData("Exit\0garbage", 12);  // text ends at the first NUL
    EXPECT_EQ(view.calls, std::vector<std::string>{"close"});
    EXPECT_FALSE(form->ExitConfirmation());
    EXPECT_TRUE(form->FormClose());
    EXPECT_TRUE(general.shown.empty());

    view.calls.clear();
    form->CopyData("Exit", 3);  // stated size wins: "Exi"
    EXPECT_TRUE(view.calls.empty());
}

TEST_F(MainTest, ExitButtonAsksAgainAfterExitMessage) {
    auto form = Make();
    form->CopyData("Exit", 4);
    form->bbCloseClick();
    EXPECT_TRUE(form->ExitConfirmation());
    general.answers = {2};
    EXPECT_FALSE(form->FormClose());
}

TEST_F(MainTest, DestroyFreesDevicesThenDisconnectsThenTags) {
    Record(hooks.FreeDeviceList, "devices");
    hooks.ReleaseTagArrays = [this] { steps.push_back("tags after " + db.calls.back()); };
    auto form = Make();
    form->FormCreate();
    form->FormDestroy();
    EXPECT_EQ(steps, (std::vector<std::string>{"devices", "tags after disconnect 77 1"}));
}

TEST(InstanceMutexName, BackslashesBecomeUnderscoresAndAllIsUpperCase) {
    EXPECT_EQ(InstanceMutexName("C:\\Apps\\Gw\\Tarnowick.exe"), "APPLICATION-C:_APPS_GW_TARNOWICK.EXE");
    EXPECT_EQ(InstanceMutexName("c:\\program files\\my gw\\tarnowick.exe"),
              "APPLICATION-C:_PROGRAM FILES_MY GW_TARNOWICK.EXE");
    // The platform's upper-casing is used when given.
    EXPECT_EQ(InstanceMutexName("c:\\x", [](const std::string& s) { return "<" + s + ">"; }), "<APPLICATION-c:_x>");
}

}  // namespace
}  // namespace tw::test
