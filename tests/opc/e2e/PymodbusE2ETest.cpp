// Items and a subscription through the proxy against a real Modbus TCP device: the demo device
// (Debian's pymodbus, started beside Wine by the ctest fixture), read, written and watched.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <cstdlib>
#include <set>
#include <string>

#include "OPCDA.h"
#include "ClientSupport.h"
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
uint16_t DeviceValue(uint8_t function, uint16_t number) {
    TIdModBusClient client;
    client.Host = "127.0.0.1";
    client.Port = DemoPort();
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

TEST(PymodbusEndToEnd, ReadWriteAndSubscribeAgainstARealDevice) {
    const std::wstring folder = e2e::InstallCopy(L"pymodbus", e2e::GatewayFiles());
    ASSERT_EQ(e2e::ExecSql(folder + L"TARNOWICK.GDB",
                           std::string(e2e::kConfigSchema) +
                               "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED) VALUES ('Demo', "
                               "'127.0.0.1', " + std::to_string(DemoPort()) + ", 1, 0);"
                               "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME) "
                               "VALUES (1, 'a counter', 1, 0, 'Demo.Counter'), (1, 'b setpoint', 4, 0, 'Demo.Setpoint'),"
                               "(1, 'c valve', 3, 1, 'Demo.Valve');"),
              "");
    test::RunProgram(L"regsvr32.exe /s \"" + e2e::BinFolder() + L"TarnowickPS.dll\"", 30000);
    ASSERT_EQ(test::RunProgram(L"\"" + folder + L"Tarnowick.exe\" /RegServer", 30000).exitCode, 0u);
    // Start from a known state of what the test writes.
    {
        TIdModBusClient reset;
        reset.Host = "127.0.0.1";
        reset.Port = DemoPort();
        ASSERT_TRUE(reset.WriteSingleRegister(kSetpoint, 100));
        ASSERT_TRUE(reset.WriteSingleCoil(kValve, 0));
    }

    e2e::TProcess gateway = e2e::TProcess::Start(folder + L"Tarnowick.exe");
    ASSERT_NE(test::TickStartPolling(gateway.Pid(), kStartMs, 0), nullptr) << "the gateway showed no main window";

    IOPCServer* server = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(&server)),
              S_OK);
    OPCHANDLE hGroup = 0;
    DWORD rate = 0;
    IOPCItemMgt* mgt = nullptr;
    ASSERT_EQ(server->AddGroup(L"demo", TRUE, 200, 9, nullptr, nullptr, 0x409, &hGroup, &rate, IID_IOPCItemMgt,
                               reinterpret_cast<IUnknown**>(&mgt)),
              S_OK);
    std::vector<OPCHANDLE> h = test::AddActiveItems(mgt, {L"Demo.Counter", L"Demo.Setpoint", L"Demo.Valve"});
    ASSERT_EQ(h.size(), 3u);
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

    // The subscription follows the counter the device moves every second, with good quality.
    test::TFakeDataSink sink;
    IConnectionPointContainer* cpc = nullptr;
    IConnectionPoint* cp = nullptr;
    DWORD cookie = 0;
    ASSERT_EQ(mgt->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)), S_OK);
    ASSERT_EQ(cpc->FindConnectionPoint(IID_IOPCDataCallback, &cp), S_OK);
    ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
    std::set<LONG> counters;
    bool good = true;
    test::PumpUntil(
        [&] {
            for (const test::TCallback& c : sink.calls)
                for (std::size_t j = 0; j < c.clients.size(); ++j)
                    if (c.clients[j] == 1) {
                        counters.insert(c.values[j]);
                        good = good && c.qualities[j] == 0xC0;
                    }
            return counters.size() >= 3;
        },
        8000);
    EXPECT_GE(counters.size(), 3u) << "the subscription did not follow the device's counter";
    EXPECT_TRUE(good) << "a data change without good quality";

    cp->Unadvise(cookie);
    cp->Release();
    cpc->Release();
    sync->Release();
    mgt->Release();
    server->Release();
    ASSERT_TRUE(e2e::SendCopyData(e2e::WaitForWindow(gateway.Pid(), L"TfrmMain", 1000), "Exit"));
    EXPECT_TRUE(gateway.WaitExit(15000));
    test::RunProgram(L"\"" + e2e::BinFolder() + L"Tarnowick.exe\" /RegServer", 30000);
}

}  // namespace
}  // namespace tw::opc
