// Callbacks that survive their clients, across processes: opc-subscriber programs subscribe to a copy
// of Tarnowick.exe that polls a fake Modbus device on loopback, whose values this test keeps
// changing. One client that stops handling messages must not delay the others; clients that are
// killed must give their server slots back; a client that fails its callbacks keeps its slot.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ClientSupport.h"
#include "OPCDA.h"
#include "Processes.h"
#include "SubscriberReport.h"
#include "Tarnowick.h"
#include "e2e/ProcessDriver.h"
#include "groups/FakeDataSink.h"
#include "opc/ComText.h"
#include "resource.h"

namespace tw::opc {
namespace {

constexpr DWORD kStartMs = 20000;

std::size_t Occurrences(const std::wstring& text, const std::wstring& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class CallbackEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { copy = new test::TGatewayCopy(L"callbacks"); }
    static void TearDownTestSuite() {
        delete copy;
        copy = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(test::FileExists(copy->folder + L"Tarnowick.exe")) << "Tarnowick.exe is not built";
        ASSERT_EQ(copy->configured, "");
        // Every due pass of every subscription has a change to send.
        changer = std::thread([this] {
            for (uint16_t v = 1; !stopChanging; ++v) {
                copy->device.SetRegister(40, v);
                Sleep(50);
            }
        });
        gateway = std::make_unique<e2e::TProcess>(e2e::TProcess::Start(copy->folder + L"Tarnowick.exe"));
        main = test::TickStartPolling(gateway->Pid(), kStartMs, kStartMs);
        ASSERT_NE(main, nullptr) << "the gateway showed no main window";
    }
    void TearDown() override {
        stopChanging = true;
        if (changer.joinable()) changer.join();
        if (!gateway) return;
        if (main) {
            EXPECT_TRUE(e2e::SendCopyData(main, "Exit"));
        }
        EXPECT_TRUE(gateway->WaitExit(20000)) << "the gateway did not end after \"Exit\"";
    }

    // A subscriber to T1 and T2 whose report goes to a file of its own.
    struct TSubscriber {
        std::wstring report;
        e2e::TProcess process;
    };
    static std::unique_ptr<TSubscriber> Subscribe(const std::wstring& options) {
        const std::wstring report = test::TempFile(L"sub");
        return std::unique_ptr<TSubscriber>(new TSubscriber{
            report, e2e::TProcess::Start(e2e::BinFolder() + test::kSubscriberExe,
                                         L"--items T1,T2 --report \"" + report + L"\" " + options)});
    }
    static bool Subscribed(const TSubscriber& s) {
        return test::ReadSubscriberReport(s.report).count(test::kSubscribedLine) != 0;
    }
    static bool AllSubscribed(const std::vector<std::unique_ptr<TSubscriber>>& all, DWORD timeoutMs) {
        return test::PumpUntil(
            [&] {
                for (const auto& s : all)
                    if (!Subscribed(*s)) return false;
                return true;
            },
            timeoutMs);
    }
    std::wstring EventLog() const { return e2e::ControlText(main, IDC_MMOLOG); }
    // A server object of the gateway, through the proxy; null on failure.
    static IOPCServer* Connect() {
        IOPCServer* server = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                   reinterpret_cast<void**>(&server)),
                  S_OK);
        return server;
    }
    // An active group of server updated every 100 ms, with the one item; null on failure.
    static IOPCItemMgt* ActiveGroup(IOPCServer* server, const wchar_t* item) {
        OPCHANDLE handle = 0;
        DWORD rate = 0;
        IOPCItemMgt* mgt = nullptr;
        if (FAILED(server->AddGroup(L"", TRUE, 100, 1, nullptr, nullptr, 0x409, &handle, &rate, IID_IOPCItemMgt,
                                    reinterpret_cast<IUnknown**>(&mgt))))
            return nullptr;
        if (test::AddActiveItems(mgt, {item}).size() == 1) return mgt;
        mgt->Release();
        return nullptr;
    }

    static test::TGatewayCopy* copy;
    std::atomic<bool> stopChanging{false};
    std::thread changer;
    std::unique_ptr<e2e::TProcess> gateway;
    HWND main = nullptr;
};
test::TGatewayCopy* CallbackEndToEnd::copy = nullptr;

TEST_F(CallbackEndToEnd, AClientThatStopsHandlingMessagesDelaysNobodyElse) {
    std::vector<std::unique_ptr<TSubscriber>> healthy;
    for (int i = 0; i < 2; ++i) healthy.push_back(Subscribe(L"--rate 1000 --duration 16000"));
    ASSERT_TRUE(AllSubscribed(healthy, kStartMs));
    // Its first data change comes at once; a second later it handles no message for 6 s.
    auto stalled = Subscribe(L"--rate 1000 --duration 12000 --stall-after 1000 --stall 6000");
    for (const auto& s : healthy) ASSERT_TRUE(s->process.WaitExit(40000)) << "a subscriber did not end";
    ASSERT_TRUE(stalled->process.WaitExit(20000)) << "the stalled subscriber did not end";

    for (const auto& s : healthy) {
        const auto report = test::ReadSubscriberReport(s->report);
        EXPECT_GE(test::ReportNumber(report, "data_changes"), 10) << "a subscription at 1000 ms over 16 s";
        EXPECT_LE(test::ReportNumber(report, "max_gap_ms"), 2000) << "a healthy client waited for the stalled one";
    }
    EXPECT_GE(test::ReportNumber(test::ReadSubscriberReport(stalled->report), "data_changes"), 2)
        << "the stalled client got nothing after its stall";
    EXPECT_EQ(EventLog().find(L"does not answer"), std::wstring::npos) << "a slow client was cut off";
}

// The close asks every client to let go; one that handles no message cannot hold it beyond the
// close's own wait for clients.
TEST_F(CallbackEndToEnd, AHungClientHoldsTheCloseNoLongerThanItsWait) {
    auto healthy = Subscribe(L"--rate 100 --duration 60000 --shutdown-sink");
    auto hung = Subscribe(L"--rate 100 --duration 60000 --shutdown-sink --stall-after 500 --stall 60000");
    ASSERT_TRUE(test::PumpUntil([&] { return Subscribed(*healthy) && Subscribed(*hung); }, kStartMs));
    Sleep(2000);  // the hung one has stopped by now
    const DWORD start = GetTickCount();
    ASSERT_TRUE(e2e::SendCopyData(main, "Exit"));
    main = nullptr;
    EXPECT_TRUE(gateway->WaitExit(20000)) << "the close waited for the hung client";
    EXPECT_LE(GetTickCount() - start, 15000u);
    EXPECT_TRUE(healthy->process.WaitExit(10000));
    EXPECT_EQ(test::ReadSubscriberReport(healthy->report).count("shutdown_request"), 1u)
        << "the healthy client was not asked to let go";
    EXPECT_TRUE(test::KillProcess(hung->process.Pid()));  // it would sleep on for a minute
}

// A sink whose link ends before any callback reached it goes back to its client while the server lives
// on, and hears nothing: one unadvised after its Advise (the server lets go of the copy it made for its
// callbacks), and one unadvised from inside its own Advise, as the server asks it for its interface
// (the cookie is easily guessed), on an active group whose value keeps changing.
TEST_F(CallbackEndToEnd, ASinkUnadvisedBeforeAnyCallbackIsLetGoOfAndHearsNothing) {
    test::TFakeDataSink after, inside;
    IOPCServer* server = Connect();
    ASSERT_NE(server, nullptr);
    for (int i = 0; i < 3; ++i) {
        OPCHANDLE handle = 0;
        DWORD rate = 0;
        IUnknown* group = nullptr;
        ASSERT_EQ(server->AddGroup(L"", FALSE, 1000, 1, nullptr, nullptr, 0x409, &handle, &rate, IID_IUnknown,
                                   reinterpret_cast<IUnknown**>(&group)),
                  S_OK);
        DWORD cookie = 0;
        IConnectionPoint* point = test::AdviseDataCallback(group, &after, &cookie);
        ASSERT_NE(point, nullptr);
        EXPECT_EQ(point->Unadvise(cookie), S_OK);
        point->Release();
        group->Release();
    }

    IOPCItemMgt* mgt = ActiveGroup(server, L"T1");
    ASSERT_NE(mgt, nullptr);
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(mgt->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    IConnectionPoint* point = nullptr;
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, &point), S_OK);
    container->Release();
    bool unadvised = false;
    inside.queried = [&](REFIID riid) {
        if (unadvised || !IsEqualIID(riid, IID_IOPCDataCallback)) return;
        unadvised = true;
        EXPECT_EQ(point->Unadvise(1), S_OK);
    };
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&inside, &cookie), S_OK);
    inside.queried = nullptr;
    EXPECT_TRUE(unadvised) << "the server asked the sink for nothing during its Advise";
    test::PumpUntil([] { return false; }, 2000);  // passes at 100 ms while the device's value changes
    point->Release();
    mgt->Release();

    EXPECT_TRUE(test::PumpUntil([&] { return after.refs() == 0 && inside.refs() == 0; }, 10000))
        << after.refs() << " and " << inside.refs() << " references held";
    server->Release();
    EXPECT_EQ(after.Count(test::TCallbackKind::DataChange), 0u);
    EXPECT_EQ(inside.Count(test::TCallbackKind::DataChange), 0u);
}

// A client that disconnects one group's sink object loses that sink's callbacks only. A client with
// nothing to receive (its value never changes) is asked every few seconds whether it is there, and is
// not cut off for answering.
TEST_F(CallbackEndToEnd, ASinkThatIsGoneCostsOnlyItselfAndAnIdleClientIsAskedWhetherItIsThere) {
    auto dropping = Subscribe(L"--groups 2 --rate 100 --duration 12000 --disconnect-first-sink");
    ASSERT_TRUE(test::PumpUntil([&] { return Subscribed(*dropping); }, kStartMs));

    test::TFakeDataSink idle;
    int probes = 0;
    idle.queried = [&](REFIID riid) {
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IOPCDataCallback)) ++probes;
    };
    IOPCServer* server = Connect();
    ASSERT_NE(server, nullptr);
    IOPCItemMgt* mgt = ActiveGroup(server, L"T2");  // a value nobody changes
    ASSERT_NE(mgt, nullptr);
    DWORD cookie = 0;
    IConnectionPoint* point = test::AdviseDataCallback(mgt, &idle, &cookie);
    ASSERT_NE(point, nullptr);

    ASSERT_TRUE(test::PumpUntil([&] { return dropping->process.WaitExit(0); }, 30000));
    EXPECT_GE(test::ReportNumber(test::ReadSubscriberReport(dropping->report), "data_changes"), 60)
        << "the client's other group lost its callbacks";
    EXPECT_GE(probes, 1) << "the idle client was never asked";
    EXPECT_EQ(Occurrences(EventLog(), L"does not answer"), 0u);
    idle.queried = nullptr;
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    point->Release();
    mgt->Release();
    server->Release();
}

TEST_F(CallbackEndToEnd, KilledClientsGiveTheirSlotsBackAndAClientThatFailsItsCallbacksKeepsIts) {
    std::vector<std::unique_ptr<TSubscriber>> killed;
    for (int i = 0; i < 31; ++i) killed.push_back(Subscribe(L"--rate 100 --duration 600000"));
    ASSERT_TRUE(AllSubscribed(killed, 120000)) << "31 subscribers did not all subscribe";
    IOPCServer* refused = nullptr;
    EXPECT_TRUE(FAILED(CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                        reinterpret_cast<void**>(&refused))))
        << "a 32nd client was given a slot";
    if (refused) refused->Release();
    for (const auto& s : killed) EXPECT_TRUE(test::KillProcess(s->process.Pid()));

    // The next data change to each dead client fails at once: its slot is free within a few seconds.
    IOPCServer* server = nullptr;
    const DWORD killedAt = GetTickCount();
    ASSERT_TRUE(test::PumpUntil(
        [&] {
            return SUCCEEDED(CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                              reinterpret_cast<void**>(&server)));
        },
        30000))
        << "no slot came free after 31 clients were killed";
    EXPECT_LE(GetTickCount() - killedAt, 10000u) << "the slots came free only after " << GetTickCount() - killedAt;
    HWND console = test::OpenServerConsole(gateway->Pid(), main, kStartMs);
    ASSERT_NE(console, nullptr) << "the Local OPC Server button opened no console";
    EXPECT_TRUE(test::WaitConsoleCounts(console, L"1", L"0", 10000)) << "the console still counts dead clients";
    // One line for each freed slot, each naming the slot and what was closed.
    const std::wstring log = EventLog();
    for (int slot = 1; slot <= 31; ++slot) {
        const std::wstring line =
            L"OPC client in slot " + std::to_wstring(slot) + L" does not answer: its connection and 1 group were closed.";
        EXPECT_EQ(Occurrences(log, line), 1u) << Narrow(line.c_str());
    }

    // A client that answers every data change with E_FAIL is alive: it keeps its slot and its group.
    auto failing = Subscribe(L"--rate 100 --duration 4000 --fail");
    ASSERT_TRUE(test::PumpUntil([&] { return Subscribed(*failing); }, kStartMs));
    EXPECT_TRUE(test::WaitConsoleCounts(console, L"2", L"1", 10000));
    ASSERT_TRUE(failing->process.WaitExit(30000));
    const auto report = test::ReadSubscriberReport(failing->report);
    EXPECT_GE(test::ReportNumber(report, "data_changes"), 20) << "the failing client lost its subscription";
    EXPECT_TRUE(test::WaitConsoleCounts(console, L"1", L"0", 10000)) << "the failing client did not let go";
    EXPECT_EQ(Occurrences(EventLog(), L"does not answer"), 31u) << "the failing client was cut off";
    EXPECT_TRUE(e2e::PressButton(console, L"Close"));
    server->Release();
}

}  // namespace
}  // namespace tw::opc
