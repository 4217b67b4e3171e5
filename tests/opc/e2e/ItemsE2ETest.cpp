// Items through the proxy: a copy of Tarnowick.exe configured with a Modbus device on loopback (a
// fake device in this process) and one that cannot be reached, created by COM, driven by a client
// and by opcda-cli.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "OPCDA.h"
#include "ClientSupport.h"
#include "Processes.h"
#include "Tarnowick.h"
#include "e2e/ProcessDriver.h"
#include "opc/ComText.h"
#include "opc/OpcError.h"
#include "values/Quality.h"

namespace tw::opc {
namespace {

using test::FileExists;
using test::PumpUntil;
using test::RunProgram;
using test::I4;

void Exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
}

// Device 1 is the fake device (T1 register 40, T2 register 41, C1 coil 5); device 2 listens nowhere (U1).
void WriteConfiguration(const std::wstring& folder, int port) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Narrow((folder + L"TARNOWICK.GDB").c_str()).c_str(), &db), SQLITE_OK);
    Exec(db,
         "CREATE TABLE DEVICE (ID INTEGER PRIMARY KEY AUTOINCREMENT, DESCRIPTION VARCHAR(100), IP_ADDRESS "
         "VARCHAR(15), PORT INTEGER, UNIT_ID INTEGER, DISABLED INTEGER DEFAULT 0);"
         "CREATE TABLE I_O_SETTING (ID INTEGER PRIMARY KEY AUTOINCREMENT, DEVICE_ID INTEGER, DESCRIPTION "
         "VARCHAR(100), REGISTER_NO INTEGER, REGISTER_TYPE INTEGER, TAG_NAME VARCHAR(100));");
    Exec(db, "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED) VALUES ('A plant', "
             "'127.0.0.1', " + std::to_string(port) + ", 1, 0), ('B gone', '127.0.0.1', 1, 1, 0);");
    Exec(db, "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME) VALUES "
             "(1, 'a level', 40, 0, 'T1'), (1, 'b setpoint', 41, 0, 'T2'), (1, 'c pump', 5, 1, 'C1'), "
             "(2, 'a lost', 1, 0, 'U1');");
    sqlite3_close(db);
}

std::vector<HRESULT> Errors(HRESULT* errors, DWORD count) {
    std::vector<HRESULT> out(errors, errors + count);
    CoTaskMemFree(errors);
    return out;
}

class ItemsEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        device = new tw::test::TFakeDevice;
        device->SetRegister(40, 1234);
        device->SetRegister(41, 41);
        folder = e2e::InstallCopy(L"items", e2e::GatewayFiles());
        exe = folder + L"Tarnowick.exe";
        WriteConfiguration(folder, device->Port());
        // Our proxy/stub where no other is registered, and COM starts this copy.
        HMODULE ps = LoadLibraryW((e2e::BinFolder() + L"TarnowickPS.dll").c_str());
        if (ps) {
            using TEntry = HRESULT(WINAPI*)();
            auto reg = reinterpret_cast<TEntry>(reinterpret_cast<void*>(GetProcAddress(ps, "DllRegisterServer")));
            if (reg) reg();
            FreeLibrary(ps);
        }
        registered = RunProgram(L"\"" + exe + L"\" /RegServer", 30000).exitCode == 0;
    }
    static void TearDownTestSuite() {
        // Back to the build's own exe for whoever runs next.
        RunProgram(L"\"" + e2e::BinFolder() + L"Tarnowick.exe\" /RegServer", 30000);
        delete device;
        device = nullptr;
    }
    static void ExpectServerEnds() {
        EXPECT_TRUE(test::EndedByItself(L"Tarnowick.exe")) << "the server did not end with its last client";
    }

    static tw::test::TFakeDevice* device;
    static std::wstring folder, exe;
    static bool registered;
};
tw::test::TFakeDevice* ItemsEndToEnd::device = nullptr;
std::wstring ItemsEndToEnd::folder, ItemsEndToEnd::exe;
bool ItemsEndToEnd::registered = false;

template <class Itf>
Itf* As(IUnknown* u, REFIID iid) {
    Itf* p = nullptr;
    EXPECT_EQ(u->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK);
    return p;
}

// Everything one client does; returns early on a fatal failure, the caller releases the server.
void DriveItems(IOPCServer* server, tw::test::TFakeDevice& device) {
    OPCHANDLE hGroup = 0;
    DWORD rate = 0;
    IUnknown* u = nullptr;
    ASSERT_EQ(server->AddGroup(L"items", TRUE, 500, 1, nullptr, nullptr, 0x409, &hGroup, &rate, IID_IOPCItemMgt, &u),
              S_OK);
    auto* mgt = static_cast<IOPCItemMgt*>(u);
    const wchar_t* names[] = {L"T1", L"T2", L"C1", L"U1", L"nosuch", L"t1"};
    OPCITEMDEF defs[6] = {};
    for (int i = 0; i < 6; ++i) {
        defs[i].szItemID = const_cast<LPWSTR>(names[i]);
        defs[i].bActive = TRUE;
        defs[i].hClient = static_cast<OPCHANDLE>(10 + i);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(mgt->AddItems(6, defs, &results, &errors), S_FALSE);
    EXPECT_EQ(Errors(errors, 6),
              (std::vector<HRESULT>{S_OK, S_OK, S_OK, S_OK, OPC_E_UNKNOWNITEMID, OPC_E_UNKNOWNITEMID}));
    OPCHANDLE h[4] = {results[0].hServer, results[1].hServer, results[2].hServer, results[3].hServer};
    CoTaskMemFree(results);
    EXPECT_EQ(h[0], 2u);  // the first item of a fresh process

    // A read goes to the device.
    auto* io = As<IOPCSyncIO>(mgt, IID_IOPCSyncIO);
    OPCITEMSTATE* states = nullptr;
    ASSERT_EQ(io->Read(OPC_DS_DEVICE, 3, h, &states, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(states[0].vDataValue.vt, VT_I4);
    EXPECT_EQ(states[0].vDataValue.lVal, 1234);
    EXPECT_EQ(states[1].vDataValue.lVal, 41);
    EXPECT_EQ(states[0].wQuality, 0xC0);
    EXPECT_EQ(states[2].hClient, 12u);
    CoTaskMemFree(states);

    // Until scanning starts the unreachable device is just unreachable: a write to it fails its entry
    // and its tag reads as a comm failure. Once Start has found it gone it runs simulated: its tag is
    // not connected until a value is forced, which then succeeds, GOOD local override.
    const auto readU1 = [&](LONG& value) {
        OPCITEMSTATE* s = nullptr;
        HRESULT* e = nullptr;
        if (FAILED(io->Read(OPC_DS_DEVICE, 1, &h[3], &s, &e))) return WORD{0xFFFF};
        const WORD q = s[0].wQuality;
        value = s[0].vDataValue.lVal;
        CoTaskMemFree(s);
        CoTaskMemFree(e);
        return q;
    };
    LONG u1 = -1;
    const WORD before = readU1(u1);  // scanning may have started already on a slow machine
    EXPECT_TRUE(before == kQualityCommFailure || before == kQualityNotConnected) << before;
    EXPECT_EQ(u1, 0);
    const bool started = before == kQualityNotConnected;
    VARIANT values[3] = {I4(5), I4(5), I4(5)};
    OPCHANDLE writeTo[3] = {h[0], h[2], h[3]};
    ASSERT_EQ(io->Write(3, writeTo, values, &errors), started ? S_OK : S_FALSE);
    EXPECT_EQ(Errors(errors, 3), (std::vector<HRESULT>{S_OK, S_OK, started ? S_OK : E_FAIL}));
    EXPECT_EQ(device.Register(40), 5);
    EXPECT_TRUE(device.Coil(5));
    ASSERT_TRUE(PumpUntil([&] { return readU1(u1) == kQualityNotConnected; }, 20000));
    ASSERT_EQ(io->Write(1, &h[3], values, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(readU1(u1), kQualityLocalOverride);
    EXPECT_EQ(u1, 5);
    values[0] = I4(70000);
    ASSERT_EQ(io->Write(1, h, values, &errors), S_FALSE);
    EXPECT_EQ(Errors(errors, 1), std::vector<HRESULT>{DISP_E_OVERFLOW});
    EXPECT_EQ(device.Register(40), 5);

    // The group's name comes back through the proxy's [out] string.
    auto* state = As<IOPCGroupStateMgt>(mgt, IID_IOPCGroupStateMgt);
    DWORD lcid = 0;
    BOOL active = 0;
    LPWSTR name = nullptr;
    LONG bias = 0;
    FLOAT band = 0;
    OPCHANDLE hc = 0, hs = 0;
    ASSERT_EQ(state->GetState(&rate, &active, &name, &bias, &band, &lcid, &hc, &hs), S_OK);
    ASSERT_NE(name, nullptr) << "the proxy lost the [out] string";
    EXPECT_STREQ(name, L"items");
    CoTaskMemFree(name);

    // A clone shares the item handles; removing from it leaves the source alone.
    IUnknown* clone = nullptr;
    ASSERT_EQ(state->CloneGroup(L"copy", IID_IOPCGroupStateMgt, &clone), S_OK);
    auto* cloneMgt = As<IOPCItemMgt>(clone, IID_IOPCItemMgt);
    OPCHANDLE both[2] = {h[3], h[0]};
    ASSERT_EQ(cloneMgt->RemoveItems(2, both, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_EQ(cloneMgt->RemoveItems(1, both, &errors), S_FALSE);
    EXPECT_EQ(Errors(errors, 1), std::vector<HRESULT>{OPC_E_INVALIDHANDLE});
    ASSERT_EQ(io->Read(OPC_DS_CACHE, 1, h, &states, &errors), S_OK);  // still in the source group
    EXPECT_EQ(states[0].vDataValue.lVal, 5);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    cloneMgt->Release();
    clone->Release();
    EXPECT_EQ(server->GetGroupByName(L"copy", IID_IUnknown, &clone), E_INVALIDARG);  // released: gone
    EXPECT_EQ(server->RemoveGroup(hGroup, TRUE), S_OK);
    state->Release();
    io->Release();
    mgt->Release();
}

TEST_F(ItemsEndToEnd, ClientAddsReadsWritesClonesAndRemovesThroughTheProxy) {
    ASSERT_TRUE(FileExists(exe)) << "Tarnowick.exe is not built";
    ASSERT_TRUE(registered);
    IOPCServer* server = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(&server)),
              S_OK);
    DriveItems(server, *device);
    server->Release();
    ExpectServerEnds();
}

TEST_F(ItemsEndToEnd, CommandLineClientAddsReadsAndWritesItems) {
    ASSERT_TRUE(registered);
    device->SetRegister(41, 777);
    const std::wstring cli = L"\"" + e2e::BinFolder() + L"opcda-cli.exe\" {FE4F5263-11D5-4724-95BA-A978983B6369}";
    const auto r = RunProgram(cli + L" add-group G add G T2,nosuch read G write G T2=9,T2=-1 read G --cache", 60000);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("T2: serverHandle=2 canonicalType=18 accessRights=3"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("nosuch: error=0xC0040007 The item is no longer available in the server address space."),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("T2: value=777 vt=3 quality=0xC0 (good) time=20"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("T2: error=0x8002000A"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("T2: value=9 vt=3 quality=0xC0 (good)"), std::string::npos) << r.output;
    EXPECT_EQ(device->Register(41), 9);
    ExpectServerEnds();
}

}  // namespace
}  // namespace tw::opc
