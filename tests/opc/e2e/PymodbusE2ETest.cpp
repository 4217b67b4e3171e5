// Items and a subscription through the proxy against a real Modbus TCP device: the demo device
// (Debian's pymodbus, started beside Wine by the ctest fixture), read, written and watched; and a
// demo device of the test's own, stopped and started again while a client watches.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "OPCDA.h"
#include "ClientSupport.h"
#include "opc/OpcError.h"
#include "values/Quality.h"
#include "Processes.h"
#include "Tarnowick.h"
#include "e2e/ConfigDatabase.h"
#include "e2e/ProcessDriver.h"
#include "groups/FakeDataSink.h"
#include "modbus/IdModBusClient.h"
#include "resource.h"

namespace tw::opc {
namespace {

constexpr DWORD kStartMs = 20000;
// The demo device: holding register 1 counts seconds, register 4 and coil 3 change only by writes.
constexpr uint16_t kCounter = 1, kSetpoint = 4, kValve = 3;

int DemoPort() {
    const char* port = std::getenv("TW_DEMO_PORT");
    return port ? std::atoi(port) : 5020;
}

// What the device itself holds, asked with our own client.
uint16_t DeviceValue(uint8_t function, uint16_t number, int port = DemoPort()) {
    TIdModBusClient client;
    client.Host = "127.0.0.1";
    client.Port = port;
    client.TimeOut = 3000;
    uint16_t value = 0xFFFF;
    try {
        if (function == 1)
            client.ReadCoilValue(number, value);
        else
            client.ReadRegisterValue(number, value);
    } catch (...) {
    }
    return value;
}

// A gateway copy in its own folder configured for the demo device on port, registered with COM.
// Holding registers 1 to 4 are configured, so that with block reads one request reads them all.
std::wstring InstallGatewayFor(const wchar_t* name, int port, bool blockReads = false) {
    const std::wstring folder = e2e::InstallCopy(name, e2e::GatewayFiles());
    EXPECT_EQ(e2e::ExecSql(folder + L"TARNOWICK.GDB",
                           std::string(e2e::kConfigSchema) +
                               "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED) VALUES ('Demo', "
                               "'127.0.0.1', " + std::to_string(port) + ", 1, 0);"
                               "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME) "
                               "VALUES (1, 'a counter', 1, 0, 'Demo.Counter'), (1, 'b setpoint', 4, 0, 'Demo.Setpoint'),"
                               "(1, 'c valve', 3, 1, 'Demo.Valve'), (1, 'd level', 2, 0, 'Demo.Level'),"
                               "(1, 'e temperature', 3, 0, 'Demo.Temperature');" +
                               // "Block reads" ticked, in the column the gateway's data-access library adds
                               (blockReads ? "ALTER TABLE DEVICE ADD COLUMN BLOCK_READS INTEGER;"
                                             "UPDATE DEVICE SET BLOCK_READS = 1;"
                                           : "")),
              "");
    test::RunProgram(L"regsvr32.exe /s \"" + e2e::BinFolder() + L"TarnowickPS.dll\"", 30000);
    EXPECT_EQ(test::RunProgram(L"\"" + folder + L"Tarnowick.exe\" /RegServer", 30000).exitCode, 0u);
    return folder;
}

// The gateway with "Start Polling" ticked, a client connected through COM, and
// one active group of the named items (client handles 1, 2, ...).
void ConnectPolling(const e2e::TProcess& gateway, DWORD rate, const std::vector<const wchar_t*>& names,
                    IOPCServer*& server, IOPCItemMgt*& mgt, std::vector<OPCHANDLE>& h) {
    ASSERT_NE(test::TickStartPolling(gateway.Pid(), kStartMs, 0), nullptr) << "the gateway showed no main window";
    ASSERT_EQ(CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(&server)),
              S_OK);
    OPCHANDLE hGroup = 0;
    DWORD revised = 0;
    ASSERT_EQ(server->AddGroup(L"demo", TRUE, rate, 9, nullptr, nullptr, 0x409, &hGroup, &revised, IID_IOPCItemMgt,
                               reinterpret_cast<IUnknown**>(&mgt)),
              S_OK);
    h = test::AddActiveItems(mgt, names);
    ASSERT_EQ(h.size(), names.size());
}

// Closed as "Exit" closes it; COM starts the build's own exe again for whoever runs next.
void CloseGateway(const e2e::TProcess& gateway) {
    ASSERT_TRUE(e2e::SendCopyData(e2e::WaitForWindow(gateway.Pid(), L"TfrmMain", 1000), "Exit"));
    EXPECT_TRUE(gateway.WaitExit(15000));
    test::RunProgram(L"\"" + e2e::BinFolder() + L"Tarnowick.exe\" /RegServer", 30000);
}

// Once with one request per register, once with block reads: the values land in the same items.
class PymodbusReadWrite : public ::testing::TestWithParam<bool> {};

TEST_P(PymodbusReadWrite, ReadWriteAndSubscribeAgainstARealDevice) {
    const bool blockReads = GetParam();
    const std::wstring folder = InstallGatewayFor(blockReads ? L"pymodbus-blocks" : L"pymodbus", DemoPort(), blockReads);
    // Start from a known state of what the test writes.
    {
        TIdModBusClient reset;
        reset.Host = "127.0.0.1";
        reset.Port = DemoPort();
        ASSERT_TRUE(reset.WriteSingleRegister(kSetpoint, 100));
        ASSERT_TRUE(reset.WriteSingleCoil(kValve, 0));
    }

    e2e::TProcess gateway = e2e::TProcess::Start(folder + L"Tarnowick.exe");
    IOPCServer* server = nullptr;
    IOPCItemMgt* mgt = nullptr;
    std::vector<OPCHANDLE> h;
    ASSERT_NO_FATAL_FAILURE(
        ConnectPolling(gateway, 200, {L"Demo.Counter", L"Demo.Setpoint", L"Demo.Valve"}, server, mgt, h));
    HRESULT* errors = nullptr;

    // A device read returns what the device holds.
    IOPCSyncIO* sync = nullptr;
    ASSERT_EQ(mgt->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(&sync)), S_OK);
    OPCITEMSTATE* states = nullptr;
    ASSERT_EQ(sync->Read(OPC_DS_DEVICE, 3, h.data(), &states, &errors), S_OK);
    EXPECT_EQ(states[1].vDataValue.lVal, 100);
    EXPECT_EQ(states[2].vDataValue.lVal, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(states[i].wQuality, 0xC0);
        VariantClear(&states[i].vDataValue);
    }
    CoTaskMemFree(states);
    CoTaskMemFree(errors);

    // A write of 5 reaches the register and switches the coil on.
    VARIANT five[2] = {test::I4(5), test::I4(5)};
    OPCHANDLE written[2] = {h[1], h[2]};
    ASSERT_EQ(sync->Write(2, written, five, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(DeviceValue(3, kSetpoint), 5);
    EXPECT_EQ(DeviceValue(1, kValve), 1);

    // The subscription follows the counter the device moves every second, and shows what was
    // written, all with good quality.
    test::TFakeDataSink sink;
    IConnectionPointContainer* cpc = nullptr;
    IConnectionPoint* cp = nullptr;
    DWORD cookie = 0;
    ASSERT_EQ(mgt->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)), S_OK);
    ASSERT_EQ(cpc->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
    ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
    std::set<LONG> counters;
    std::map<OPCHANDLE, LONG> latest;
    bool good = true;
    test::PumpUntil(
        [&] {
            for (const test::TCallback& c : sink.calls)
                for (std::size_t j = 0; j < c.clients.size(); ++j) {
                    if (c.clients[j] == 1) counters.insert(c.values[j]);
                    latest[c.clients[j]] = c.values[j];
                    good = good && c.qualities[j] == 0xC0;
                }
            sink.calls.clear();
            return counters.size() >= 3 && latest[2] == 5 && latest[3] == 1;
        },
        8000);
    EXPECT_GE(counters.size(), 3u) << "the subscription did not follow the device's counter";
    EXPECT_EQ(latest[2], 5) << "the setpoint's item does not show what the device holds";
    EXPECT_EQ(latest[3], 1) << "the valve's item does not show what the device holds";
    EXPECT_TRUE(good) << "a data change without good quality";

    cp->Unadvise(cookie);
    cp->Release();
    cpc->Release();
    sync->Release();
    mgt->Release();
    server->Release();
    CloseGateway(gateway);
}

INSTANTIATE_TEST_SUITE_P(PymodbusEndToEnd, PymodbusReadWrite, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "BlockReads" : "SingleReads";
                         });

// A demo device of this test's own (a Linux program: Wine starts it through the ctest fixture's
// script), stopped and started again by the test and always stopped at the end. Wine does not pass
// a Linux program's exit status on, so each step is confirmed by asking the device itself.
class TOwnDemoDevice {
public:
    TOwnDemoDevice() : script_(Env("TW_DEMO_FIXTURE")), pidFile_(Env("TW_OWN_DEMO_PID")), port_(Env("TW_OWN_DEMO_PORT")) {}
    ~TOwnDemoDevice() { Stop(); }
    bool Configured() const { return !script_.empty() && !pidFile_.empty() && !port_.empty(); }
    int Port() const { return std::atoi(port_.c_str()); }
    bool Start() { return Run(L"start " + Widened(pidFile_) + L" " + Widened(port_)) && AnswersWithin(true, 10000); }
    bool Stop() { return Run(L"stop " + Widened(pidFile_)) && AnswersWithin(false, 10000); }

private:
    static std::string Env(const char* name) {
        const char* v = std::getenv(name);
        return v ? v : "";
    }
    static std::wstring Widened(const std::string& s) { return std::wstring(s.begin(), s.end()); }
    bool Run(const std::wstring& args) const {
        return Configured() && test::RunProgram(L"Z:\\bin\\bash " + Widened(script_) + L" " + args, 20000).started;
    }
    bool AnswersWithin(bool answering, DWORD ms) const {
        for (const DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(100))
            if ((DeviceValue(3, kSetpoint, Port()) != 0xFFFF) == answering) return true;
        return false;
    }
    std::string script_, pidFile_, port_;
};

// What one item reported through the data callbacks since the last look.
struct TSeen {
    std::vector<std::pair<LONG, WORD>> changes;  // value and quality, in order
};
TSeen SeenFor(test::TFakeDataSink& sink, OPCHANDLE client) {
    TSeen seen;
    for (const test::TCallback& c : sink.calls)
        if (c.kind == test::TCallbackKind::DataChange)
            for (std::size_t j = 0; j < c.clients.size(); ++j)
                if (c.clients[j] == client) seen.changes.emplace_back(c.values[j], c.qualities[j]);
    sink.calls.clear();
    return seen;
}

WORD QualityProperty(IOPCServer* server, const wchar_t* item) {
    IOPCItemProperties* props = nullptr;
    if (FAILED(server->QueryInterface(IID_IOPCItemProperties, reinterpret_cast<void**>(&props)))) return 0xFFFF;
    DWORD id = 3;
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    WORD quality = 0xFFFF;
    if (SUCCEEDED(props->GetItemProperties(const_cast<LPWSTR>(item), 1, &id, &values, &errors))) {
        quality = static_cast<WORD>(V_I2(&values[0]));
        VariantClear(&values[0]);
        CoTaskMemFree(values);
        CoTaskMemFree(errors);
    }
    props->Release();
    return quality;
}

// The device goes away while a client watches: its items turn BAD, comm failure, with the last value
// the device gave (never a GOOD 0), writes to it fail, property 3 follows; back, they turn GOOD.
TEST(PymodbusEndToEnd, ADeviceThatGoesAwayIsReportedBadAndWritesToItFail) {
    TOwnDemoDevice demo;
    ASSERT_TRUE(demo.Configured()) << "TW_DEMO_FIXTURE, TW_OWN_DEMO_PID and TW_OWN_DEMO_PORT are not set";
    ASSERT_TRUE(demo.Start());
    const std::wstring folder = InstallGatewayFor(L"pymodbus-gone", demo.Port());
    e2e::TProcess gateway = e2e::TProcess::Start(folder + L"Tarnowick.exe");
    IOPCServer* server = nullptr;
    IOPCItemMgt* mgt = nullptr;
    std::vector<OPCHANDLE> h;
    ASSERT_NO_FATAL_FAILURE(ConnectPolling(gateway, 100, {L"Demo.Counter", L"Demo.Setpoint"}, server, mgt, h));
    IOPCSyncIO* sync = nullptr;
    IOPCAsyncIO2* async = nullptr;
    IConnectionPointContainer* cpc = nullptr;
    IConnectionPoint* cp = nullptr;
    ASSERT_EQ(mgt->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(&sync)), S_OK);
    ASSERT_EQ(mgt->QueryInterface(IID_IOPCAsyncIO2, reinterpret_cast<void**>(&async)), S_OK);
    ASSERT_EQ(mgt->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)), S_OK);
    ASSERT_EQ(cpc->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
    test::TFakeDataSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);

    // Live: the counter moves with GOOD quality (before the first scan the item is not connected).
    LONG lastGood = -1;
    std::set<LONG> counted;
    test::PumpUntil(
        [&] {
            for (const auto& [value, quality] : SeenFor(sink, 1).changes) {
                if (quality == kQualityNotConnected && counted.empty()) continue;
                EXPECT_EQ(quality, kQualityGood);
                counted.insert(value);
                lastGood = value;
            }
            return counted.size() >= 2;
        },
        8000);
    ASSERT_GE(counted.size(), 2u) << "no live data from the device";
    EXPECT_EQ(QualityProperty(server, L"Demo.Counter"), kQualityGood);

    // Gone: BAD comm failure with the last value, never a GOOD value.
    ASSERT_TRUE(demo.Stop());
    bool bad = false;
    test::PumpUntil(
        [&] {
            for (const auto& [value, quality] : SeenFor(sink, 1).changes) {
                if (quality == kQualityGood) {
                    EXPECT_FALSE(bad) << "a GOOD value after the device was reported gone: " << value;
                    lastGood = value;  // read before the device went
                    continue;
                }
                EXPECT_EQ(quality, kQualityCommFailure);
                EXPECT_EQ(value, lastGood) << "not the last value the device gave";
                bad = true;
            }
            return bad;
        },
        10000);
    ASSERT_TRUE(bad) << "the subscription never reported the device gone";
    EXPECT_EQ(QualityProperty(server, L"Demo.Counter"), kQualityCommFailure);

    HRESULT* errors = nullptr;
    VARIANT seven = test::I4(7);
    EXPECT_EQ(sync->Write(1, const_cast<OPCHANDLE*>(&h[1]), &seven, &errors), S_FALSE);
    EXPECT_EQ(errors ? errors[0] : S_OK, E_FAIL);
    CoTaskMemFree(errors);
    DWORD cancel = 0;
    ASSERT_EQ(async->Write(1, const_cast<OPCHANDLE*>(&h[1]), &seven, 42, &cancel, &errors), S_OK);
    CoTaskMemFree(errors);
    const test::TCallback* completion = nullptr;
    test::PumpUntil(
        [&] {
            for (const test::TCallback& c : sink.calls)
                if (c.kind == test::TCallbackKind::WriteComplete) completion = &c;
            return completion != nullptr;
        },
        10000);
    ASSERT_NE(completion, nullptr) << "no OnWriteComplete";
    EXPECT_EQ(completion->transid, 42u);
    EXPECT_EQ(completion->errors, std::vector<HRESULT>{E_FAIL});
    EXPECT_EQ(completion->masterError, S_FALSE);
    sink.calls.clear();

    // Back: GOOD again.
    ASSERT_TRUE(demo.Start());
    bool good = false;
    test::PumpUntil(
        [&] {
            for (const auto& [value, quality] : SeenFor(sink, 1).changes) good = good || quality == kQualityGood;
            return good;
        },
        15000);
    EXPECT_TRUE(good) << "the device came back but its items stayed BAD";
    EXPECT_EQ(QualityProperty(server, L"Demo.Counter"), kQualityGood);

    cp->Unadvise(cookie);
    cp->Release();
    cpc->Release();
    async->Release();
    sync->Release();
    mgt->Release();
    server->Release();
    CloseGateway(gateway);
}

}  // namespace
}  // namespace tw::opc
