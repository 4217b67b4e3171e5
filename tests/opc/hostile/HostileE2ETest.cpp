// The hostile client across processes: a copy of Tarnowick.exe, started as an operator starts it
// with "Start Polling" ticked, serves this process's hostile client through the proxy/stub while a
// well-behaved client (its own apartment, on a thread of its own) reads and subscribes before,
// during and after. The proxy refuses some malformed calls (NULL [ref] pointers) itself; what gets
// through must not hurt the server. Device 1 is a fake device on loopback (T1) for the well-behaved
// client; device 2 cannot be reached (H1 to H3), so the hostile client's reads never wait for one.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "ClientSupport.h"
#include "FakeDevice.h"
#include "HostileMemory.h"
#include "HostileObjects.h"
#include "HostileRun.h"
#include "OPCDA.h"
#include "Processes.h"
#include "Tarnowick.h"
#include "e2e/ConfigDatabase.h"
#include "e2e/ProcessDriver.h"
#include "groups/FakeDataSink.h"
#include "opc/server/ConsoleResource.h"
#include "resource.h"

namespace tw::opc::hostile {
namespace {

constexpr uint64_t kCiSeed = 20240611;
constexpr std::size_t kCiCalls = 1500;
constexpr DWORD kStartMs = 20000;
constexpr DWORD kRoundTripMs = 15000;

std::string WriteConfiguration(const std::wstring& folder, int port) {
    return e2e::ExecSql(folder + L"TARNOWICK.GDB",
                        std::string(e2e::kConfigSchema) +
                            "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED) VALUES ('A plant', "
                            "'127.0.0.1', " +
                            std::to_string(port) +
                            ", 1, 0), ('B gone', '127.0.0.1', 1, 1, 0);"
                            "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME) "
                            "VALUES (1, 'a level', 40, 0, 'T1'), (2, 'h one', 1, 0, 'H1'), (2, 'h two', 2, 0, 'H2'), "
                            "(2, 'h coil', 3, 1, 'H3');");
}

// The well-behaved client: on its own thread and apartment, round trip after round trip, each a
// new value on the device, read back synchronously and then reported by its subscription.
class TGoodClient {
public:
    explicit TGoodClient(tw::test::TFakeDevice& device) : device_(device), thread_([this] { Run(); }) {}
    ~TGoodClient() {
        stop_ = true;
        thread_.join();
    }
    int RoundTrips() const { return roundTrips_; }
    std::string Failure() const {
        std::lock_guard<std::mutex> guard(lock_);
        return failure_;
    }
    bool WaitRoundTrips(int count, DWORD ms) const {
        return test::PumpUntil([&] { return roundTrips_ >= count || !Failure().empty(); }, ms) && Failure().empty();
    }

private:
    void Fail(const std::string& why) {
        std::lock_guard<std::mutex> guard(lock_);
        if (failure_.empty()) failure_ = why;
    }
    void Run() {
        if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return Fail("no apartment");
        Session();
        CoUninitialize();
    }
    void Session() {
        IOPCServer* server = nullptr;
        const HRESULT created = CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                                 reinterpret_cast<void**>(&server));
        if (FAILED(created)) return Fail("could not connect: " + std::to_string(created));
        OPCHANDLE hGroup = 0;
        DWORD rate = 0;
        IOPCItemMgt* mgt = nullptr;
        if (FAILED(server->AddGroup(L"good", TRUE, 50, 7, nullptr, nullptr, 0x409, &hGroup, &rate, IID_IOPCItemMgt,
                                    reinterpret_cast<IUnknown**>(&mgt)))) {
            server->Release();
            return Fail("no group");
        }
        const std::vector<OPCHANDLE> items = test::AddActiveItems(mgt, {L"T1"});
        test::TFakeDataSink sink;
        IConnectionPointContainer* cpc = nullptr;
        IConnectionPoint* point = nullptr;
        IOPCSyncIO* sync = nullptr;
        DWORD cookie = 0;
        mgt->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc));
        mgt->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(&sync));
        if (cpc) cpc->FindConnectionPoint(IID_IOPCDataCallback, &point);
        if (items.size() != 1 || !sync || !point || FAILED(point->Advise(&sink, &cookie))) {
            Fail("no subscription");
        } else {
            for (uint16_t value = 1000; !stop_ && Failure().empty(); ++value) {
                RoundTrip(sync, items[0], sink, value);
                if (Failure().empty()) ++roundTrips_;
            }
            point->Unadvise(cookie);
        }
        CoDisconnectObject(&sink, 0);
        for (IUnknown* u : {static_cast<IUnknown*>(point), static_cast<IUnknown*>(cpc), static_cast<IUnknown*>(sync),
                            static_cast<IUnknown*>(mgt), static_cast<IUnknown*>(server)})
            if (u) u->Release();
    }
    void RoundTrip(IOPCSyncIO* sync, OPCHANDLE item, test::TFakeDataSink& sink, uint16_t value) {
        device_.SetRegister(40, value);
        OPCHANDLE h = item;
        OPCITEMSTATE* state = nullptr;
        HRESULT* errors = nullptr;
        const HRESULT hr = sync->Read(OPC_DS_DEVICE, 1, &h, &state, &errors);
        const bool read = hr == S_OK && state && state[0].vDataValue.vt == VT_I4 && state[0].vDataValue.lVal == value;
        const std::string answer =
            std::to_string(hr) +
            (state ? ", type " + std::to_string(state[0].vDataValue.vt) + " value " +
                         std::to_string(state[0].vDataValue.lVal) + " quality " + std::to_string(state[0].wQuality)
                   : std::string());
        if (state) VariantClear(&state[0].vDataValue);
        CoTaskMemFree(state);
        CoTaskMemFree(errors);
        if (!read) return Fail("a read of " + std::to_string(value) + " answered " + answer);
        const bool reported = test::PumpUntil(
            [&] {
                for (const test::TCallback& c : sink.calls)
                    if (c.kind == test::TCallbackKind::DataChange && !c.values.empty() && c.values.back() == value)
                        return true;
                return false;
            },
            kRoundTripMs);
        sink.calls.clear();
        if (!reported) Fail("no data change with " + std::to_string(value));
    }

    tw::test::TFakeDevice& device_;
    std::atomic<bool> stop_{false};
    std::atomic<int> roundTrips_{0};
    mutable std::mutex lock_;
    std::string failure_;
    std::thread thread_;  // last: starts once the rest is made
};

class HostileAcrossProcesses : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gateway = new test::TGatewayCopy(L"hostile", WriteConfiguration); }
    static void TearDownTestSuite() {
        delete gateway;
        gateway = nullptr;
    }
    static test::TGatewayCopy* gateway;
};
test::TGatewayCopy* HostileAcrossProcesses::gateway = nullptr;

TEST_F(HostileAcrossProcesses, TheServerSurvivesAndKeepsServingAWellBehavedClient) {
    ASSERT_TRUE(test::FileExists(gateway->Exe())) << "Tarnowick.exe is not built";
    ASSERT_EQ(gateway->configured, "");
    ASSERT_TRUE(TTaskMemorySpy::Instance().Register());
    e2e::TProcess process = e2e::TProcess::Start(gateway->Exe());
    HWND main = test::TickStartPolling(process.Pid(), kStartMs, kStartMs);
    ASSERT_NE(main, nullptr) << "the gateway showed no main window";

    const uint64_t seed = SeedFromEnvironment(kCiSeed);
    const std::size_t calls = CountFromEnvironment("calls", kCiCalls);
    std::printf("seed %llu, %zu calls\n", static_cast<unsigned long long>(seed), calls);
    TEnvironment env;
    env.inProcess = false;
    env.createServer = [](IUnknown** server) {
        return CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                reinterpret_cast<void**>(server));
    };
    env.pulse = [] { test::PumpUntil([] { return false; }, 2); };
    env.tagNames = {L"H1", L"H2", L"H3"};

    const TLeakCounts before = CountNow();
    TRunResult result;
    int during = 0;
    {
        TGoodClient good(gateway->device);
        ASSERT_TRUE(good.WaitRoundTrips(1, kStartMs)) << "before: " << good.Failure();
        const int beforeHostile = good.RoundTrips();
        result = RunHostile(env, seed, calls);
        during = good.RoundTrips() - beforeHostile;
        EXPECT_TRUE(good.WaitRoundTrips(good.RoundTrips() + 1, kStartMs)) << "after: " << good.Failure();
        EXPECT_EQ(good.Failure(), "");
    }
    // The server lets go of every sink and value it was handed, once the hostile client has let go,
    // and its console counts no client and no group any more.
    test::PumpUntil([] { return TTestObject::Live() == 0; }, 15000);
    const TLeakCounts after = CountNow();
    HWND button = e2e::Control(main, IDC_BBNLOCALOPCCONSOLE);
    ASSERT_NE(button, nullptr);
    PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(IDC_BBNLOCALOPCCONSOLE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    HWND console = e2e::WaitForDialogTitled(process.Pid(), L"OPC Server Console", kStartMs);
    ASSERT_NE(console, nullptr) << "no server console";
    std::wstring clients, groups;
    test::PumpUntil(
        [&] {
            clients = e2e::ControlText(console, IDC_CLIENTCONLBL);
            groups = e2e::ControlText(console, IDC_GRPCOUNTLBL);
            return clients == L"0" && groups == L"0";
        },
        15000);
    EXPECT_EQ(clients, L"0") << "server objects left in the gateway";
    EXPECT_EQ(groups, L"0") << "groups left in the gateway";
    EXPECT_TRUE(e2e::PressButton(console, L"Close"));
    std::printf("%zu calls, %zu callbacks, %zu faults, %d round trips of the well-behaved client meanwhile\n",
                result.calls, result.callbacks, result.faults, during);
    // This process's own counts are reported, not judged: its proxies, stubs and RPC threads are
    // Wine's, and a proxy that gives up half-way keeps what it had unmarshaled.
    std::printf("client before: %s\nclient after:  %s\n", Describe(before).c_str(), Describe(after).c_str());
    for (const std::string& f : result.distinctFaults) std::printf("  fault: %s\n", f.c_str());
    std::fflush(stdout);

    EXPECT_EQ(result.faults, 0u);
    EXPECT_GE(result.calls, calls);
    EXPECT_EQ(after.testObjects, 0) << "never let go of " << TTestObject::Describe() << ":\n" << TTestObject::Births();
    EXPECT_TRUE(process.Running()) << "the gateway is gone";
    // The close asks clients with a shutdown sink to let go: answer while waiting.
    ASSERT_TRUE(e2e::SendCopyData(main, "Exit"));
    EXPECT_TRUE(test::PumpUntil([&] { return !process.Running(); }, 15000)) << "the gateway did not end";
}

}  // namespace
}  // namespace tw::opc::hostile
