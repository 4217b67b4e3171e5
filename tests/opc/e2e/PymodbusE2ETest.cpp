// Items and a subscription through the proxy against a real Modbus TCP device: the demo device
// (Debian's pymodbus, started beside Wine by the ctest fixture), read, written and watched; and a
// demo device of the test's own, stopped and started again while a client watches.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "OPCDA.h"
#include "ClientSupport.h"
#include "opc/ComText.h"
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
// statusItems: "Publish device status items" ticked in its settings file.
std::wstring InstallGatewayFor(const wchar_t* name, int port, bool blockReads = false, bool statusItems = false) {
    const std::wstring folder = e2e::InstallCopy(name, e2e::GatewayFiles());
    if (statusItems) {
        EXPECT_TRUE(WritePrivateProfileStringW(L"System", L"Publish device status items", L"1",
                                               (folder + L"Tarnowick.ini").c_str()));
    }
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
                    IOPCServer*& server, IOPCItemMgt*& mgt, std::vector<OPCHANDLE>& h, FLOAT* deadband = nullptr) {
    ASSERT_NE(test::TickStartPolling(gateway.Pid(), kStartMs, 0), nullptr) << "the gateway showed no main window";
    ASSERT_EQ(CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(&server)),
              S_OK);
    OPCHANDLE hGroup = 0;
    DWORD revised = 0;
    ASSERT_EQ(server->AddGroup(L"demo", TRUE, rate, 9, nullptr, deadband, 0x409, &hGroup, &revised, IID_IOPCItemMgt,
                               reinterpret_cast<IUnknown**>(&mgt)),
              S_OK);
    h = test::AddActiveItems(mgt, names);
    ASSERT_EQ(h.size(), names.size());
}

// The names the address space lists for a type and access filter, sorted.
std::vector<std::wstring> BrowsedNames(IOPCServer* server, VARTYPE type = VT_EMPTY, DWORD access = 0) {
    std::vector<std::wstring> names;
    IOPCBrowseServerAddressSpace* space = nullptr;
    if (FAILED(server->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void**>(&space)))) return names;
    IEnumString* found = nullptr;
    if (SUCCEEDED(space->BrowseOPCItemIDs(OPC_FLAT, L"", type, access, &found)) && found) {
        LPOLESTR name = nullptr;
        for (ULONG got = 0; found->Next(1, &name, &got) == S_OK && got == 1;) {
            names.emplace_back(name);
            CoTaskMemFree(name);
        }
        found->Release();
    }
    space->Release();
    std::sort(names.begin(), names.end());
    return names;
}

// The first OnWriteComplete the sink receives (messages pumped meanwhile); null when none comes.
const test::TCallback* WriteCompletion(test::TFakeDataSink& sink) {
    const test::TCallback* completion = nullptr;
    test::PumpUntil(
        [&] {
            for (const test::TCallback& c : sink.calls)
                if (c.kind == test::TCallbackKind::WriteComplete) completion = &c;
            return completion != nullptr;
        },
        10000);
    return completion;
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
    // "Publish device status items" is off: the address space holds the configured tags alone.
    EXPECT_EQ(BrowsedNames(server), (std::vector<std::wstring>{L"Demo.Counter", L"Demo.Level", L"Demo.Setpoint",
                                                                L"Demo.Temperature", L"Demo.Valve"}));

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

// Every data type in every word order, against the demo device: four devices of the gateway share it,
// each laying out its values in another order in a free area of its holding registers. The test puts
// the values there itself, from their bytes as IEEE 754 and two's complement give them; the gateway
// must read, write (in the exact requests, which the demo device traces) and subscribe them.
struct TTypedValue {
    const char* suffix;
    int offset;     // register number in the device's area
    int dataType;   // as stored in I_O_SETTING.DATA_TYPE
    VARTYPE canonical, delivered;
    std::vector<uint8_t> before, after;  // big-endian bytes
    double beforeValue, afterValue;
};
// A Float32 between 16-bit registers, so that a block read must give each value its own words.
const TTypedValue kTyped[] = {
    {"U16", 1, 0, VT_UI2, VT_I4, {0xBE, 0xEF}, {0x12, 0x34}, 48879, 4660},
    {"F32", 2, 4, VT_R4, VT_R4, {0x42, 0xF6, 0xE9, 0x79}, {0xBF, 0xC0, 0, 0}, 123.456f, -1.5},
    {"I16", 4, 1, VT_I2, VT_I2, {0xCF, 0xC7}, {0xFF, 0xFE}, -12345, -2},
    {"U32", 5, 2, VT_UI4, VT_UI4, {0xB2, 0xD0, 0x5E, 0x00}, {0x89, 0xAB, 0xCD, 0xEF}, 3000000000.0, 2309737967.0},
    {"I32", 7, 3, VT_I4, VT_I4, {0xF8, 0xA4, 0x32, 0xEB}, {0xFF, 0xFF, 0xFF, 0xFE}, -123456789, -2},
    {"F64", 9, 5, VT_R8, VT_R8, {0x40, 0x5E, 0xDD, 0x2F, 0x1A, 0x9F, 0xBE, 0x77}, {0xBF, 0xF8, 0, 0, 0, 0, 0, 0},
     123.456, -1.5},
};
constexpr int kWordOrders = 4;
int AreaOf(int order) { return 100 + 20 * order; }

// The registers of big-endian bytes for a word order: high word first, low word first, and both
// with the bytes of each word swapped.
std::vector<uint16_t> InOrder(const std::vector<uint8_t>& bytes, int order) {
    std::vector<uint16_t> words;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const bool swapped = order >= 2;
        words.push_back(static_cast<uint16_t>(swapped ? bytes[i + 1] << 8 | bytes[i] : bytes[i] << 8 | bytes[i + 1]));
    }
    if (order == 1 || order == 3) std::reverse(words.begin(), words.end());
    return words;
}

std::wstring ItemName(int order, const char* suffix) {
    const std::string name = "W" + std::to_string(order) + "." + suffix;
    return std::wstring(name.begin(), name.end());
}

// The demo device's write trace from the given line on (the fixture's file, TW_DEMO_TRACE).
std::vector<std::string> TraceLines(std::size_t from) {
    const char* path = std::getenv("TW_DEMO_TRACE");
    std::vector<std::string> lines;
    if (!path) return lines;
    std::FILE* file = std::fopen((std::string("Z:") + path).c_str(), "r");
    if (!file) return lines;
    char line[512];
    for (std::size_t n = 0; std::fgets(line, sizeof line, file); ++n)
        if (n >= from) lines.push_back(std::string(line, std::strcspn(line, "\r\n")));
    std::fclose(file);
    return lines;
}

double Number(const VARIANT& v) {
    VARIANT d;
    VariantInit(&d);
    return SUCCEEDED(VariantChangeType(&d, const_cast<VARIANT*>(&v), 0, VT_R8)) ? d.dblVal : std::nan("");
}

TEST(PymodbusEndToEnd, EveryDataTypeInEveryWordOrderIsReadWrittenAndSubscribed) {
    ASSERT_NE(std::getenv("TW_DEMO_TRACE"), nullptr) << "the demo device's trace is not set";
    std::string sql = std::string(e2e::kConfigSchema) +
                      "ALTER TABLE DEVICE ADD COLUMN BLOCK_READS INTEGER; ALTER TABLE DEVICE ADD COLUMN WORD_ORDER "
                      "INTEGER; ALTER TABLE I_O_SETTING ADD COLUMN DATA_TYPE INTEGER;";
    TIdModBusClient demo;
    demo.Host = "127.0.0.1";
    demo.Port = DemoPort();
    demo.TimeOut = 3000;
    for (int order = 0; order < kWordOrders; ++order) {
        // Block reads for two of the four orders: both paths read every value whole.
        sql += "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED, BLOCK_READS, WORD_ORDER) VALUES ('W" +
               std::to_string(order) + "', '127.0.0.1', " + std::to_string(DemoPort()) + ", 1, 0, " +
               std::to_string(order % 2 == 0) + ", " + std::to_string(order) + ");";
        for (const TTypedValue& t : kTyped) {
            sql += "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME, DATA_TYPE) "
                   "VALUES (" + std::to_string(order + 1) + ", '" + t.suffix + "', " +
                   std::to_string(AreaOf(order) + t.offset) + ", 0, 'W" + std::to_string(order) + "." + t.suffix +
                   "', " + std::to_string(t.dataType) + ");";
            const std::vector<uint16_t> words = InOrder(t.before, order);
            ASSERT_TRUE(demo.WriteMultipleRegisters(static_cast<uint16_t>(AreaOf(order) + t.offset),
                                                    static_cast<uint16_t>(words.size()), words.data()));
        }
    }
    // The demo's room temperature (input registers 1-2, Float32) and door (discrete input 1).
    sql += "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME, DATA_TYPE) VALUES "
           "(1, 'Room', 1, 2, 'W0.Room', 4), (1, 'Door', 1, 3, 'W0.Door', 0);";
    const std::wstring folder = e2e::InstallCopy(L"pymodbus-typed", e2e::GatewayFiles());
    ASSERT_EQ(e2e::ExecSql(folder + L"TARNOWICK.GDB", sql), "");
    test::RunProgram(L"regsvr32.exe /s \"" + e2e::BinFolder() + L"TarnowickPS.dll\"", 30000);
    ASSERT_EQ(test::RunProgram(L"\"" + folder + L"Tarnowick.exe\" /RegServer", 30000).exitCode, 0u);

    std::vector<std::wstring> names;
    for (int order = 0; order < kWordOrders; ++order)
        for (const TTypedValue& t : kTyped) names.push_back(ItemName(order, t.suffix));
    names.push_back(L"W0.Room");
    names.push_back(L"W0.Door");
    std::vector<const wchar_t*> raw;
    for (const std::wstring& n : names) raw.push_back(n.c_str());
    e2e::TProcess gateway = e2e::TProcess::Start(folder + L"Tarnowick.exe");
    IOPCServer* server = nullptr;
    IOPCItemMgt* mgt = nullptr;
    std::vector<OPCHANDLE> h;
    ASSERT_NO_FATAL_FAILURE(ConnectPolling(gateway, 100, raw, server, mgt, h));
    const std::size_t typedCount = kWordOrders * std::size(kTyped), room = typedCount, door = typedCount + 1;

    // Canonical types and access rights, as a client learns them when it adds the items.
    {
        std::vector<OPCITEMDEF> defs(names.size());
        for (std::size_t i = 0; i < names.size(); ++i) defs[i].szItemID = const_cast<LPWSTR>(names[i].c_str());
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        ASSERT_EQ(mgt->ValidateItems(static_cast<DWORD>(defs.size()), defs.data(), FALSE, &results, &errors), S_OK);
        for (std::size_t i = 0; i < typedCount; ++i) {
            EXPECT_EQ(results[i].vtCanonicalDataType, kTyped[i % std::size(kTyped)].canonical) << Narrow(names[i].c_str());
            EXPECT_EQ(results[i].dwAccessRights, static_cast<DWORD>(OPC_READABLE | OPC_WRITEABLE));
        }
        EXPECT_EQ(results[room].vtCanonicalDataType, VT_R4);
        EXPECT_EQ(results[room].dwAccessRights, static_cast<DWORD>(OPC_READABLE));
        EXPECT_EQ(results[door].dwAccessRights, static_cast<DWORD>(OPC_READABLE));
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
    }

    // Read from the devices: each value in its canonical type (a UInt16 as VT_I4, as always).
    IOPCSyncIO* sync = nullptr;
    ASSERT_EQ(mgt->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(&sync)), S_OK);
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(sync->Read(OPC_DS_DEVICE, static_cast<DWORD>(h.size()), h.data(), &states, &errors), S_OK);
    for (std::size_t i = 0; i < typedCount; ++i) {
        const TTypedValue& t = kTyped[i % std::size(kTyped)];
        EXPECT_EQ(states[i].vDataValue.vt, t.delivered) << Narrow(names[i].c_str());
        EXPECT_EQ(Number(states[i].vDataValue), t.beforeValue) << Narrow(names[i].c_str());
        EXPECT_EQ(states[i].wQuality, kQualityGood) << Narrow(names[i].c_str());
    }
    EXPECT_EQ(states[room].vDataValue.vt, VT_R4);
    EXPECT_NEAR(Number(states[room].vDataValue), 21.5, 1.6);
    EXPECT_EQ(states[door].vDataValue.vt, VT_I4);
    for (std::size_t i = 0; i < h.size(); ++i) VariantClear(&states[i].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);

    // A subscription sees every value; then every value is written (as a VT_R8, converted by the
    // gateway), and the subscription sees what the devices then hold.
    test::TFakeDataSink sink;
    DWORD cookie = 0;
    IConnectionPoint* cp = test::AdviseDataCallback(mgt, &sink, &cookie);
    ASSERT_NE(cp, nullptr);
    std::map<OPCHANDLE, double> latest;
    auto collect = [&] {
        for (const test::TCallback& c : sink.calls)
            for (std::size_t j = 0; j < c.clients.size(); ++j)
                if (c.qualities[j] == kQualityGood) latest[c.clients[j]] = c.numbers[j];
        sink.calls.clear();
    };
    auto allAre = [&](bool after) {
        for (std::size_t i = 0; i < typedCount; ++i) {
            const TTypedValue& t = kTyped[i % std::size(kTyped)];
            auto seen = latest.find(static_cast<OPCHANDLE>(i + 1));
            if (seen == latest.end() || seen->second != (after ? t.afterValue : t.beforeValue)) return false;
        }
        return true;
    };
    test::PumpUntil([&] { return collect(), allAre(false); }, 10000);
    EXPECT_TRUE(allAre(false)) << "the subscription did not report every typed value";

    const std::size_t traced = TraceLines(0).size();
    std::vector<VARIANT> values(typedCount + 1);
    std::vector<OPCHANDLE> written(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(typedCount + 1));
    for (std::size_t i = 0; i < typedCount; ++i) {
        VariantInit(&values[i]);
        values[i].vt = VT_R8;
        values[i].dblVal = kTyped[i % std::size(kTyped)].afterValue;
    }
    values[typedCount] = test::I4(20);  // the room temperature: an input register
    ASSERT_EQ(sync->Write(static_cast<DWORD>(written.size()), written.data(), values.data(), &errors), S_FALSE);
    for (std::size_t i = 0; i < typedCount; ++i) EXPECT_EQ(errors[i], S_OK) << Narrow(names[i].c_str());
    EXPECT_EQ(errors[typedCount], OPC_E_BADRIGHTS);
    CoTaskMemFree(errors);

    // On the wire: 16-bit values with function 6, wider ones with function 16 in one request, each in
    // its device's word order; nothing for the input register.
    std::vector<std::string> expected;
    for (int order = 0; order < kWordOrders; ++order)
        for (const TTypedValue& t : kTyped) {
            const std::vector<uint16_t> words = InOrder(t.after, order);
            std::string line = std::string(words.size() == 1 ? "6 " : "16 ") + std::to_string(AreaOf(order) + t.offset - 1);
            char hex[8];
            for (uint16_t w : words) {
                std::snprintf(hex, sizeof hex, " %04X", w);
                line += hex;
            }
            expected.push_back(line);
        }
    EXPECT_EQ(TraceLines(traced), expected);
    test::PumpUntil([&] { return collect(), allAre(true); }, 10000);
    EXPECT_TRUE(allAre(true)) << "the subscription did not report what was written";

    // An asynchronous write to the input register is refused as well.
    IOPCAsyncIO2* async = nullptr;
    ASSERT_EQ(mgt->QueryInterface(IID_IOPCAsyncIO2, reinterpret_cast<void**>(&async)), S_OK);
    DWORD cancel = 0;
    ASSERT_EQ(async->Write(1, &h[room], &values[typedCount], 77, &cancel, &errors), S_OK);
    CoTaskMemFree(errors);
    const test::TCallback* completion = WriteCompletion(sink);
    ASSERT_NE(completion, nullptr) << "no OnWriteComplete";
    EXPECT_EQ(completion->errors, std::vector<HRESULT>{OPC_E_BADRIGHTS});
    EXPECT_EQ(TraceLines(traced).size(), expected.size()) << "something was sent for the input register";

    cp->Unadvise(cookie);
    cp->Release();
    async->Release();
    sync->Release();
    mgt->Release();
    server->Release();
    CloseGateway(gateway);
}

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
    const std::wstring folder = InstallGatewayFor(L"pymodbus-gone", demo.Port(), false, true);
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

    // The device's status items in a group of their own (client handles 1 Failing, 2 Failures): they
    // tell how the device fails, and are never BAD themselves.
    OPCHANDLE statusGroup = 0;
    DWORD revised = 0;
    IOPCItemMgt* statusMgt = nullptr;
    ASSERT_EQ(server->AddGroup(L"status", TRUE, 100, 0, nullptr, nullptr, 0x409, &statusGroup, &revised,
                               IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(&statusMgt)),
              S_OK);
    ASSERT_EQ(test::AddActiveItems(statusMgt, {L"_Devices.Demo.Failing", L"_Devices.Demo.Failures"}).size(), 2u);
    test::TFakeDataSink statusSink;
    DWORD statusCookie = 0;
    IConnectionPoint* statusCp = test::AdviseDataCallback(statusMgt, &statusSink, &statusCookie);
    ASSERT_NE(statusCp, nullptr);
    std::map<OPCHANDLE, double> status;  // the latest of each, as a number (VARIANT_TRUE is -1)
    bool statusGood = true;
    auto statusNow = [&] {
        for (const test::TCallback& c : statusSink.calls)
            for (std::size_t j = 0; j < c.clients.size(); ++j) {
                status[c.clients[j]] = c.numbers[j];
                statusGood = statusGood && c.qualities[j] == kQualityGood && c.types[j] == (c.clients[j] == 1 ? VT_BOOL : VT_UI4);
            }
        statusSink.calls.clear();
        return status;
    };

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
    test::PumpUntil([&] { return statusNow().count(2) && status[1] == 0; }, 8000);
    ASSERT_TRUE(status.count(2) && status[1] == 0) << "the status items did not report a device that answers";
    const double failuresBefore = status[2];

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
    test::PumpUntil([&] { return statusNow()[1] == -1 && status[2] > failuresBefore; }, 10000);
    EXPECT_EQ(status[1], -1) << "Failing did not turn true";
    EXPECT_GT(status[2], failuresBefore) << "Failures did not count";
    EXPECT_EQ(QualityProperty(server, L"_Devices.Demo.Failing"), kQualityGood);
    // Another client: read only, read from the device as the device object stands, a write refused.
    const test::TRunResult cli = test::RunProgram(L"\"" + e2e::BinFolder() +
                                                      L"opcda-cli.exe\" {FE4F5263-11D5-4724-95BA-A978983B6369} "
                                                      L"add-group G add G _Devices.Demo.Failing read G "
                                                      L"write G _Devices.Demo.Failing=0",
                                                  60000);
    for (const char* line : {"Failing: serverHandle=", "canonicalType=11 accessRights=1",
                             "Failing: value=true vt=11 quality=0xC0 (good)", "Failing: error=0xC0040006"})
        EXPECT_NE(cli.output.find(line), std::string::npos) << cli.output;
    // Listed by their types and as read only.
    const std::wstring item = L"_Devices.Demo.";
    EXPECT_EQ(BrowsedNames(server, VT_BOOL),
              (std::vector<std::wstring>{item + L"BlockReads", item + L"Connected", item + L"Failing", item + L"Simulated"}));
    EXPECT_EQ(BrowsedNames(server, VT_EMPTY, OPC_READABLE).size(), 7u);

    HRESULT* errors = nullptr;
    VARIANT seven = test::I4(7);
    EXPECT_EQ(sync->Write(1, const_cast<OPCHANDLE*>(&h[1]), &seven, &errors), S_FALSE);
    EXPECT_EQ(errors ? errors[0] : S_OK, E_FAIL);
    CoTaskMemFree(errors);
    DWORD cancel = 0;
    ASSERT_EQ(async->Write(1, const_cast<OPCHANDLE*>(&h[1]), &seven, 42, &cancel, &errors), S_OK);
    CoTaskMemFree(errors);
    const test::TCallback* completion = WriteCompletion(sink);
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
    test::PumpUntil([&] { return statusNow()[1] == 0; }, 10000);
    EXPECT_EQ(status[1], 0) << "Failing did not clear";
    EXPECT_TRUE(statusGood) << "a status item reported without GOOD quality or in another type";

    statusCp->Unadvise(statusCookie);
    statusCp->Release();
    statusMgt->Release();

    cp->Unadvise(cookie);
    cp->Release();
    cpc->Release();
    async->Release();
    sync->Release();
    mgt->Release();
    server->Release();
    CloseGateway(gateway);
}

// An analog item (raw 0-10000 as 0-100 bar) in a group with a 10 % deadband, beside a group without
// one as the witness of what the pass saw: a step of 5 bar is not reported, one of 11 bar is, and so is
// a change of quality with the value unchanged. The EU properties and attributes come through the
// proxy; a write in bar puts its raw value on the wire.
TEST(PymodbusEndToEnd, AnAnalogItemHonoursTheDeadbandAndShowsItsRange) {
    TOwnDemoDevice demo;
    ASSERT_TRUE(demo.Configured()) << "TW_DEMO_FIXTURE, TW_OWN_DEMO_PID and TW_OWN_DEMO_PORT are not set";
    ASSERT_TRUE(demo.Start());
    constexpr uint16_t kPressure = 150;
    TIdModBusClient device;
    device.Host = "127.0.0.1";
    device.Port = demo.Port();
    device.TimeOut = 3000;
    ASSERT_TRUE(device.WriteSingleRegister(kPressure, 5000));
    const std::wstring folder = e2e::InstallCopy(L"pymodbus-analog", e2e::GatewayFiles());
    ASSERT_EQ(e2e::ExecSql(folder + L"TARNOWICK.GDB",
                           std::string(e2e::kConfigSchema) +
                               "ALTER TABLE I_O_SETTING ADD COLUMN RAW_LOW REAL; ALTER TABLE I_O_SETTING ADD COLUMN "
                               "RAW_HIGH REAL; ALTER TABLE I_O_SETTING ADD COLUMN EU_LOW REAL; ALTER TABLE I_O_SETTING "
                               "ADD COLUMN EU_HIGH REAL; ALTER TABLE I_O_SETTING ADD COLUMN EU_UNITS VARCHAR(32);"
                               "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED) VALUES ('Demo', "
                               "'127.0.0.1', " + std::to_string(demo.Port()) + ", 1, 0);"
                               "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME, "
                               "RAW_LOW, RAW_HIGH, EU_LOW, EU_HIGH, EU_UNITS) VALUES (1, 'pressure', " +
                               std::to_string(kPressure) + ", 0, 'Demo.Pressure', 0, 10000, 0, 100, 'bar');"),
              "");
    test::RunProgram(L"regsvr32.exe /s \"" + e2e::BinFolder() + L"TarnowickPS.dll\"", 30000);
    ASSERT_EQ(test::RunProgram(L"\"" + folder + L"Tarnowick.exe\" /RegServer", 30000).exitCode, 0u);
    e2e::TProcess gateway = e2e::TProcess::Start(folder + L"Tarnowick.exe");
    IOPCServer* server = nullptr;
    IOPCItemMgt* banded = nullptr;
    std::vector<OPCHANDLE> h;
    FLOAT tenPercent = 10.0f;
    ASSERT_NO_FATAL_FAILURE(ConnectPolling(gateway, 100, {L"Demo.Pressure"}, server, banded, h, &tenPercent));
    IOPCItemMgt* witness = nullptr;
    OPCHANDLE hWitness = 0;
    DWORD revised = 0;
    ASSERT_EQ(server->AddGroup(L"witness", TRUE, 100, 10, nullptr, nullptr, 0x409, &hWitness, &revised,
                               IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(&witness)),
              S_OK);
    const std::vector<OPCHANDLE> hw = test::AddActiveItems(witness, {L"Demo.Pressure"});
    ASSERT_EQ(hw.size(), 1u);

    // The range and units as properties, the canonical type VT_R8, and the analog attributes.
    IOPCItemProperties* props = nullptr;
    ASSERT_EQ(server->QueryInterface(IID_IOPCItemProperties, reinterpret_cast<void**>(&props)), S_OK);
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    ASSERT_EQ(props->QueryAvailableProperties(const_cast<LPWSTR>(L"Demo.Pressure"), &count, &ids, &descriptions, &types),
              S_OK);
    std::set<DWORD> offered(ids, ids + count);
    for (DWORD id : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 100u, 102u, 103u}) EXPECT_EQ(offered.count(id), 1u) << id;
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(descriptions[i]);
    CoTaskMemFree(ids);
    CoTaskMemFree(descriptions);
    CoTaskMemFree(types);
    auto property = [&](DWORD id) {
        VARIANT* values = nullptr;
        HRESULT* errors = nullptr;
        VARIANT out;
        VariantInit(&out);
        if (SUCCEEDED(props->GetItemProperties(const_cast<LPWSTR>(L"Demo.Pressure"), 1, &id, &values, &errors))) {
            out = values[0];
            CoTaskMemFree(values);
            CoTaskMemFree(errors);
        }
        return out;
    };
    VARIANT v = property(1);
    EXPECT_EQ(V_I2(&v), VT_R8);
    v = property(7);
    EXPECT_EQ(V_I4(&v), OPC_ANALOG);
    v = property(100);
    ASSERT_EQ(v.vt, VT_BSTR);
    EXPECT_STREQ(v.bstrVal, L"bar");
    VariantClear(&v);
    v = property(102);
    EXPECT_EQ(V_R8(&v), 100.0);
    v = property(103);
    EXPECT_EQ(V_R8(&v), 0.0);
    IEnumOPCItemAttributes* attributes = nullptr;
    ASSERT_EQ(banded->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<IUnknown**>(&attributes)), S_OK);
    OPCITEMATTRIBUTES* a = nullptr;
    ULONG fetched = 0;
    ASSERT_EQ(attributes->Next(1, &a, &fetched), S_OK);
    EXPECT_EQ(a->dwEUType, OPC_ANALOG);
    ASSERT_EQ(a->vEUInfo.vt, VT_ARRAY | VT_R8);
    double* range = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a->vEUInfo.parray, reinterpret_cast<void**>(&range)), S_OK);
    EXPECT_EQ(std::vector<double>(range, range + 2), (std::vector<double>{0.0, 100.0}));
    SafeArrayUnaccessData(a->vEUInfo.parray);
    VariantClear(&a->vEUInfo);
    CoTaskMemFree(a->szAccessPath);
    CoTaskMemFree(a->szItemID);
    CoTaskMemFree(a);
    attributes->Release();

    // What each group reported: the pairs of value and quality, in order.
    test::TFakeDataSink sink;
    DWORD cookies[2] = {};
    IConnectionPoint* points[2] = {test::AdviseDataCallback(banded, &sink, &cookies[0]),
                                   test::AdviseDataCallback(witness, &sink, &cookies[1])};
    ASSERT_TRUE(points[0] && points[1]);
    std::map<OPCHANDLE, std::vector<std::pair<double, WORD>>> seen;  // by client group handle
    auto saw = [&](OPCHANDLE group, double value, WORD quality) {
        for (const test::TCallback& c : sink.calls)
            for (std::size_t j = 0; j < c.clients.size(); ++j) seen[c.group].emplace_back(c.numbers[j], c.qualities[j]);
        sink.calls.clear();
        const auto& list = seen[group];
        return std::find(list.begin(), list.end(), std::make_pair(value, quality)) != list.end();
    };
    auto waitFor = [&](OPCHANDLE group, double value, WORD quality) {
        return test::PumpUntil([&] { return saw(group, value, quality); }, 10000);
    };
    EXPECT_TRUE(waitFor(9, 50.0, kQualityGood)) << "no first report of 50 bar";
    ASSERT_TRUE(device.WriteSingleRegister(kPressure, 5500));
    EXPECT_TRUE(waitFor(10, 55.0, kQualityGood)) << "the witness did not see 55 bar";
    ASSERT_TRUE(device.WriteSingleRegister(kPressure, 6100));
    EXPECT_TRUE(waitFor(9, 61.0, kQualityGood)) << "a step of 11 bar was not reported";
    ASSERT_TRUE(demo.Stop());
    EXPECT_TRUE(waitFor(9, 61.0, kQualityCommFailure)) << "the change of quality was not reported";
    // Before the first scan the item may have been reported not connected.
    auto& reported = seen[9];
    while (!reported.empty() && reported.front().second == kQualityNotConnected) reported.erase(reported.begin());
    EXPECT_EQ(reported, (std::vector<std::pair<double, WORD>>{{50.0, kQualityGood}, {61.0, kQualityGood},
                                                             {61.0, kQualityCommFailure}}))
        << "the 10 % group reported a step within its deadband";

    // A write in bar becomes its raw value on the device.
    ASSERT_TRUE(demo.Start());
    IOPCSyncIO* sync = nullptr;
    ASSERT_EQ(banded->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(&sync)), S_OK);
    VARIANT bar;
    VariantInit(&bar);
    bar.vt = VT_R8;
    bar.dblVal = 25.0;
    HRESULT* errors = nullptr;
    HRESULT written = E_FAIL;
    test::PumpUntil(
        [&] {
            written = sync->Write(1, &h[0], &bar, &errors);
            CoTaskMemFree(errors);
            return written == S_OK;
        },
        15000);
    EXPECT_EQ(written, S_OK);
    EXPECT_EQ(DeviceValue(3, kPressure, demo.Port()), 2500);

    for (int i = 0; i < 2; ++i) {
        points[i]->Unadvise(cookies[i]);
        points[i]->Release();
    }
    sync->Release();
    props->Release();
    witness->Release();
    banded->Release();
    server->Release();
    CloseGateway(gateway);
}

}  // namespace
}  // namespace tw::opc
