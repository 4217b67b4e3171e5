// The server in its own process, driven through the proxy/stub as an OPC client sees it. The tests
// run in order: registration, the console's registration, a client, the command-line client,
// unregistration.
#include <gtest/gtest.h>
#include <comcat.h>

#include <string>
#include <vector>

#include "OPCDA.h"
#include "../FakeGeneral.h"
#include "Processes.h"
#include "Tarnowick.h"
#include "e2e/ProcessDriver.h"
#include "libs/General.h"
#include "opc/ComText.h"
#include "opc/Guids.h"
#include "opc/OpcError.h"
#include "opc/registration/ClassRegistration.h"
#include "opc/registration/ComServer.h"
#include "opc/registration/ConsoleRegistration.h"
#include "opc/registration/RegDeRegServer.h"
#include "opc/server/ServIMPL.h"

namespace tw::opc {
namespace {

using test::BinDir;
using test::FileExists;
using test::RunProgram;

const wchar_t kDa2Key[] = L"CLSID\\{FE4F5263-11D5-4724-95BA-A978983B6369}";

class TRecordingGeneral : public test::TStubGeneral {
public:
    int ShowMsg(const std::string& text, int, int, int) override {
        messages.push_back(text);
        return mrYes;
    }
    std::vector<std::string> messages;
};

// The proxy/stubs' class and the interface they are checked by.
const wchar_t kOurProxyStub[] = L"CLSID\\{B7E6FFD3-103E-4CB4-BAE7-1B8684BEF84D}";
const wchar_t kServerInterface[] = L"Interface\\{39C13A4D-011E-11D0-9675-0020AFD8ADB3}";

// view: 0, or KEY_WOW64_32KEY for what 32-bit programs read.
bool KeyExists(const std::wstring& key, REGSAM view = 0) {
    HKEY h;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

std::string DefaultValue(const std::wstring& key, REGSAM view = 0) {
    HKEY h;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, &h) != ERROR_SUCCESS) return "<missing>";
    wchar_t buf[512];
    DWORD bytes = sizeof buf;
    const LONG rc = RegGetValueW(h, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, buf, &bytes);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS ? Narrow(buf) : "<missing>";
}

void DeleteTree(const std::wstring& key, REGSAM view) {
    const std::size_t slash = key.find_last_of(L'\\');
    HKEY parent;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | view, &parent) !=
        ERROR_SUCCESS)
        return;
    RegDeleteTreeW(parent, key.substr(slash + 1).c_str());
    RegCloseKey(parent);
}

// Whether the category manager lists DA2 among the OPC DA 2.0 servers, as server browsers ask.
bool IsServerInOpcCategory() {
    ICatInformation* ci = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_CatInformation,
                                reinterpret_cast<void**>(&ci))))
        return false;
    CATID ids[1] = {CATID_OPCDAServer20};
    IEnumCLSID* classes = nullptr;
    bool found = false;
    if (SUCCEEDED(ci->EnumClassesOfCategories(1, ids, static_cast<ULONG>(-1), nullptr, &classes))) {
        CLSID clsid;
        ULONG n = 0;
        while (classes->Next(1, &clsid, &n) == S_OK && n == 1) found |= IsEqualCLSID(clsid, CLSID_DA2) != 0;
        classes->Release();
    }
    ci->Release();
    return found;
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        serverName = FileExists(BinDir() + L"Tarnowick.exe") ? L"Tarnowick.exe" : L"opc-test-server.exe";
        serverPath = BinDir() + serverName;
        for (DWORD pid : e2e::ProcessIdsOf(serverName)) e2e::CloseProcess(pid);  // left over by an aborted run
    }
    static void ExpectServerEnds() {
        EXPECT_TRUE(test::EndedByItself(serverName)) << "the server did not end with its last client";
    }
    static std::wstring serverName, serverPath;
};
std::wstring EndToEnd::serverName, EndToEnd::serverPath;

TEST_F(EndToEnd, ProxyStubRegistersOnlyWhereNoneIsRegistered) {
    HMODULE ps = LoadLibraryW((BinDir() + L"TarnowickPS.dll").c_str());
    ASSERT_NE(ps, nullptr);
    using TEntry = HRESULT(WINAPI*)();
    auto reg = reinterpret_cast<TEntry>(reinterpret_cast<void*>(GetProcAddress(ps, "DllRegisterServer")));
    auto unreg = reinterpret_cast<TEntry>(reinterpret_cast<void*>(GetProcAddress(ps, "DllUnregisterServer")));
    ASSERT_NE(reg, nullptr);
    ASSERT_NE(unreg, nullptr);
    const std::wstring serverPs = L"Interface\\{39C13A4D-011E-11D0-9675-0020AFD8ADB3}";
    const std::wstring propertiesPs = L"Interface\\{39C13A72-011E-11D0-9675-0020AFD8ADB3}";
    const std::string ours = "{B7E6FFD3-103E-4CB4-BAE7-1B8684BEF84D}", foreign = "{0A0B0C0D-1111-2222-3333-444455556666}";

    // Another proxy/stub (the standard OPC one, say) already serves one of the interfaces.
    EXPECT_EQ(unreg(), S_OK);
    TClassesRootRegistry root;
    ASSERT_TRUE(root.SetDefaultValue(Narrow(propertiesPs.c_str()) + "\\ProxyStubClsid32", foreign));
    EXPECT_EQ(reg(), S_OK);
    EXPECT_EQ(DefaultValue(serverPs + L"\\ProxyStubClsid32"), ours);
    EXPECT_EQ(DefaultValue(serverPs + L"\\NumMethods"), "9");
    EXPECT_EQ(DefaultValue(L"Interface\\{F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}\\ProxyStubClsid32"), ours);
    EXPECT_EQ(DefaultValue(propertiesPs + L"\\ProxyStubClsid32"), foreign);
    EXPECT_EQ(unreg(), S_OK);
    EXPECT_FALSE(KeyExists(serverPs));
    EXPECT_EQ(DefaultValue(propertiesPs + L"\\ProxyStubClsid32"), foreign);

    RegDeleteTreeW(HKEY_CLASSES_ROOT, propertiesPs.c_str());
    EXPECT_EQ(reg(), S_OK);
    EXPECT_EQ(DefaultValue(propertiesPs + L"\\ProxyStubClsid32"), ours);
    FreeLibrary(ps);
}

TEST_F(EndToEnd, RegServerWritesTheClassesTheProgIdNameAndTheProxyStubsButNoOpcMarkers) {
    TClassesRootRegistry registry;
    UnregisterOPCServer(kOPCProgId, registry);  // a previous run's console registration
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) DeleteTree(kOurProxyStub, view);
    const auto r = RunProgram(L"\"" + serverPath + L"\" -regserver", 30000);
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut) << "the register mode must end by itself, without a window";
    EXPECT_EQ(r.exitCode, 0u);

    EXPECT_EQ(DefaultValue(std::wstring(kDa2Key) + L"\\LocalServer32"), LocalServerPath(serverPath));
    EXPECT_EQ(DefaultValue(std::wstring(kDa2Key) + L"\\TypeLib"), "{775D096D-0F0F-45FA-8EE1-4C1FD194910B}");
    EXPECT_EQ(DefaultValue(std::wstring(kDa2Key) + L"\\Version"), "2.0");
    EXPECT_EQ(DefaultValue(L"Tarnowick.DA2\\Clsid"), "{FE4F5263-11D5-4724-95BA-A978983B6369}");
    EXPECT_TRUE(KeyExists(L"TypeLib\\{775D096D-0F0F-45FA-8EE1-4C1FD194910B}\\2.0"));
    // The OPC ProgID resolves, so clients can name the server; OPC browsers do not list it yet.
    CLSID byName{};
    EXPECT_EQ(CLSIDFromProgID(L"VelmoraTarnowick.DA2.1", &byName), S_OK);
    EXPECT_TRUE(IsEqualCLSID(byName, CLSID_DA2));
    EXPECT_FALSE(KeyExists(L"VelmoraTarnowick.DA2.1\\OPC"));
    EXPECT_FALSE(IsServerInOpcCategory());
    EXPECT_TRUE(KeyExists(L"TypeLib\\{775D096D-0F0F-45FA-8EE1-4C1FD194910B}\\2.0\\0\\win64"));
    // The proxy/stubs beside the exe, each in the registry view its clients read: 64-bit clients reach
    // the server through TarnowickPS.dll, 32-bit ones through x86\TarnowickPS32.dll.
    const std::wstring folder = serverPath.substr(0, serverPath.find_last_of(L'\\') + 1);
    const std::wstring server = std::wstring(kServerInterface) + L"\\ProxyStubClsid32";
    const std::wstring inproc = std::wstring(kOurProxyStub) + L"\\InprocServer32";
    EXPECT_EQ(DefaultValue(server, KEY_WOW64_64KEY), "{B7E6FFD3-103E-4CB4-BAE7-1B8684BEF84D}");
    EXPECT_EQ(DefaultValue(inproc, KEY_WOW64_64KEY), Narrow((folder + L"TarnowickPS.dll").c_str()));
    EXPECT_EQ(DefaultValue(server, KEY_WOW64_32KEY), "{B7E6FFD3-103E-4CB4-BAE7-1B8684BEF84D}");
    EXPECT_EQ(DefaultValue(inproc, KEY_WOW64_32KEY), Narrow((folder + L"x86\\TarnowickPS32.dll").c_str()));
}

// A registration that the registry refuses (here a volatile key where the 32-bit proxy/stub must add
// subkeys) ends the register mode with a non-zero code; started with /S, as the installer starts it,
// without a message box, which nobody would be there to close.
TEST_F(EndToEnd, AFailedRegServerEndsWithAnErrorCodeAndShowsABoxOnlyWhenNotSilent) {
    DeleteTree(kServerInterface, KEY_WOW64_32KEY);
    HKEY refusing;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, kServerInterface, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &refusing, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(refusing);

    const auto silent = RunProgram(L"\"" + serverPath + L"\" /RegServer /S", 60000);
    ASSERT_TRUE(silent.started);
    EXPECT_FALSE(silent.timedOut) << "the silent register mode waited, on a box nobody sees";
    EXPECT_EQ(silent.exitCode, static_cast<DWORD>(kExitRegistrationFailed));

    e2e::TProcess shown = e2e::TProcess::Start(serverPath, L"/RegServer");
    const HWND box = e2e::WaitForDialog(shown.Pid(), L"Error creating system registry entry", 60000);
    EXPECT_NE(box, nullptr) << "the register mode started by hand shows what failed";
    if (box) e2e::PressButton(box, L"OK");
    DWORD code = 0;
    EXPECT_TRUE(shown.WaitExit(30000, &code));
    EXPECT_EQ(code, static_cast<DWORD>(kExitRegistrationFailed));

    DeleteTree(kServerInterface, KEY_WOW64_32KEY);
    EXPECT_EQ(RunProgram(L"\"" + serverPath + L"\" /RegServer /S", 60000).exitCode, 0u);
    EXPECT_TRUE(KeyExists(std::wstring(kServerInterface) + L"\\NumMethods", KEY_WOW64_32KEY));
}

TEST_F(EndToEnd, ConsoleRegisterWritesTheProgIdTheCategoryAndTheProxyStubs) {
    TRecordingGeneral general;
    TClassesRootRegistry registry;
    DeleteTree(kOurProxyStub, KEY_WOW64_32KEY);
    RegSerBtnClick(general, registry);
    RegSerBtnClick(general, registry);  // twice gives the same contents
    EXPECT_EQ(general.messages, std::vector<std::string>(2, "The OPC Server has been registered successfully!"));
    EXPECT_EQ(DefaultValue(L"VelmoraTarnowick.DA2.1"), "Velmora Tarnowick Data Access Server Version 2.0");
    EXPECT_EQ(DefaultValue(L"VelmoraTarnowick.DA2.1\\CLSID"), "{FE4F5263-11D5-4724-95BA-A978983B6369}");
    EXPECT_EQ(DefaultValue(L"VelmoraTarnowick.DA2.1\\OPC"), "");
    EXPECT_NE(DefaultValue(L"VelmoraTarnowick.DA2.1\\OPC\\Vendor"), "<missing>");
    EXPECT_EQ(DefaultValue(std::wstring(kDa2Key) + L"\\ProgID"), "VelmoraTarnowick.DA2.1");
    EXPECT_TRUE(IsServerInOpcCategory());
    EXPECT_TRUE(KeyExists(std::wstring(kDa2Key) + L"\\Implemented Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"));
    // Those beside this program, for 32-bit clients too.
    EXPECT_EQ(DefaultValue(std::wstring(kOurProxyStub) + L"\\InprocServer32", KEY_WOW64_32KEY),
              Narrow((BinDir() + L"x86\\TarnowickPS32.dll").c_str()));
}

// Everything one client does with its server; returns early on a fatal failure, and the caller
// still releases the server.
void DriveServer(IOPCServer* server, REFCLSID clsid, const FILETIME& before) {
    OPCSERVERSTATUS* st = nullptr;
    ASSERT_EQ(server->GetStatus(&st), S_OK);
    ASSERT_NE(st, nullptr);
    EXPECT_EQ(st->wMajorVersion, 1);
    EXPECT_EQ(st->wMinorVersion, 2);
    EXPECT_EQ(st->wBuildNumber, 5);
    EXPECT_EQ(st->dwGroupCount, 0u);
    EXPECT_EQ(st->dwServerState, OPC_STATUS_RUNNING);
    ASSERT_NE(st->szVendorInfo, nullptr);
    EXPECT_STREQ(st->szVendorInfo, kVendorInfo);
    EXPECT_GE(CompareFileTime(&st->ftStartTime, &before) + 1, 0);  // started for this client
    CoTaskMemFree(st->szVendorInfo);
    CoTaskMemFree(st);

    OPCHANDLE hA = 0, hB = 0, hDup = 99;
    DWORD rate = 0;
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    IUnknown* dup = nullptr;
    EXPECT_EQ(server->AddGroup(L"A", TRUE, 0, 1, nullptr, nullptr, 0, &hA, &rate, IID_IUnknown, &a),
              OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(rate, 1000u);
    EXPECT_EQ(hA, 2u);  // the first group of a fresh process
    EXPECT_EQ(server->AddGroup(L"B", TRUE, 100, 2, nullptr, nullptr, 0, &hB, &rate, IID_IUnknown, &b), S_OK);
    EXPECT_EQ(hB, 3u);
    EXPECT_EQ(server->AddGroup(L"A", TRUE, 100, 3, nullptr, nullptr, 0, &hDup, &rate, IID_IUnknown, &dup),
              OPC_E_DUPLICATENAME);
    EXPECT_EQ(hDup, 0u);
    EXPECT_EQ(dup, nullptr);
    // A group handed out as an interface it does not have could not cross to the client, and would
    // stay behind in the server with nobody to release it: refused before it is made.
    EXPECT_EQ(server->AddGroup(L"C", TRUE, 100, 3, nullptr, nullptr, 0, &hDup, &rate, IID_IEnumString, &dup),
              E_NOINTERFACE);
    EXPECT_EQ(dup, nullptr);
    IOPCGroupStateMgt* state = nullptr;
    ASSERT_EQ(a->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void**>(&state)), S_OK);
    EXPECT_EQ(state->CloneGroup(L"C", CLSID_OPCEnumerators, &dup), E_NOINTERFACE);
    EXPECT_EQ(dup, nullptr);
    state->Release();
    ASSERT_EQ(server->GetStatus(&st), S_OK);
    EXPECT_EQ(st->dwGroupCount, 2u);
    CoTaskMemFree(st->szVendorInfo);
    CoTaskMemFree(st);

    // A top-level [out] string through the patched proxy.
    LPWSTR text = nullptr;
    ASSERT_EQ(server->GetErrorString(OPC_E_DUPLICATENAME, 0x409, &text), S_OK);
    ASSERT_NE(text, nullptr) << "the proxy lost the [out] string";
    EXPECT_STREQ(text, L"Duplicate name not allowed.");
    CoTaskMemFree(text);

    IUnknown* u = nullptr;
    ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, &u), S_OK);
    auto* names = static_cast<IEnumString*>(u);
    LPOLESTR got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(names->Next(3, got, &fetched), ENUM_RAN_OUT);
    ASSERT_EQ(fetched, 2u);
    EXPECT_STREQ(got[0], L"A");
    EXPECT_STREQ(got[1], L"B");
    CoTaskMemFree(got[0]);
    CoTaskMemFree(got[1]);
    names->Release();

    EXPECT_EQ(server->RemoveGroup(hA, FALSE), OPC_S_INUSE);
    a->Release();
    EXPECT_EQ(server->RemoveGroup(hA, FALSE), S_OK);
    EXPECT_EQ(server->RemoveGroup(hA, FALSE), E_INVALIDARG);
    EXPECT_EQ(server->RemoveGroup(hB, TRUE), S_OK);
    b->Release();
    ASSERT_EQ(server->GetStatus(&st), S_OK);
    EXPECT_EQ(st->dwGroupCount, 0u);
    CoTaskMemFree(st->szVendorInfo);
    CoTaskMemFree(st);

    // The dual interface is marshalled from the registered type library.
    IDispatch* dispatch = nullptr;
    EXPECT_EQ(server->QueryInterface(IID_IDA2, reinterpret_cast<void**>(&dispatch)), S_OK);
    if (dispatch) {
        UINT count = 0;
        EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
        dispatch->Release();
    }

    // 31 clients at once; the 32nd is refused and the others are untouched.
    std::vector<IOPCServer*> more;
    for (int i = 1; i < 31; ++i) {
        IOPCServer* s = nullptr;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer, reinterpret_cast<void**>(&s)),
                  S_OK);
        if (s) more.push_back(s);
    }
    IOPCServer* refused = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(&refused)),
              kNoFreeServerSlot);
    EXPECT_EQ(refused, nullptr);
    if (refused) refused->Release();  // let in after all: it must not keep the server running
    for (IOPCServer* s : more) EXPECT_EQ(s->Release(), 0u);
    ASSERT_EQ(server->GetStatus(&st), S_OK);  // the first client still works
    CoTaskMemFree(st->szVendorInfo);
    CoTaskMemFree(st);

}

TEST_F(EndToEnd, ClientCreatesDa2ThroughTheProxyAndTheServerEndsWithIt) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"VelmoraTarnowick.DA2.1", &clsid), S_OK);
    ASSERT_TRUE(IsEqualCLSID(clsid, CLSID_DA2));
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    IOPCServer* server = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer, reinterpret_cast<void**>(&server)),
              S_OK);
    EXPECT_EQ(e2e::ProcessIdsOf(serverName).size(), 1u);

    DriveServer(server, clsid, before);
    server->Release();
    ExpectServerEnds();
}

TEST_F(EndToEnd, CommandLineClientReportsAndFailsWithNonZeroCodes) {
    const std::wstring cli = L"\"" + BinDir() + L"opcda-cli.exe\"";
    auto r = RunProgram(cli + L" --json VelmoraTarnowick.DA2.1 status add-group X --rate 250 groups error 0xC004000C "
                       L"error 0xC0040007 error 0xC0040008 remove-group X",
                 60000);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("\"ok\":true"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"version\":\"1.2.5\""), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"revisedUpdateRate\":250"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"items\":[\"X\"]"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"text\":\"Duplicate name not allowed.\""), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"code\":\"0xC0040007\",\"text\":\"The item is no longer available in the server "
                            "address space.\""),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("\"code\":\"0xC0040008\",\"text\":\"The item definition does not conform to the "
                            "server's syntax.\""),
              std::string::npos)
        << r.output;
    ExpectServerEnds();

    r = RunProgram(cli + L" VelmoraTarnowick.DA2.1 add-group X add-group X status", 60000);
    EXPECT_EQ(r.exitCode, 1u) << r.output;
    EXPECT_NE(r.output.find("Duplicate name not allowed."), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("version: 1.2.5"), std::string::npos) << r.output;
    ExpectServerEnds();

    EXPECT_EQ(RunProgram(cli + L" No.Such.Server status", 30000).exitCode, 2u);
    EXPECT_EQ(RunProgram(cli + L" VelmoraTarnowick.DA2.1 frobnicate", 30000).exitCode, 64u);
}

TEST_F(EndToEnd, UnregServerRemovesTheClassEntries) {
    const auto r = RunProgram(L"\"" + serverPath + L"\" /UnregServer", 30000);
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_FALSE(KeyExists(std::wstring(kDa2Key) + L"\\LocalServer32"));
    EXPECT_FALSE(KeyExists(L"Tarnowick.DA2"));
    EXPECT_FALSE(KeyExists(L"VelmoraTarnowick.DA2.1\\CLSID"));
    EXPECT_FALSE(KeyExists(L"TypeLib\\{775D096D-0F0F-45FA-8EE1-4C1FD194910B}\\2.0"));
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        EXPECT_FALSE(KeyExists(kServerInterface, view)) << "our proxy/stub stays registered in view " << view;
        EXPECT_FALSE(KeyExists(kOurProxyStub, view)) << "our proxy/stub stays registered in view " << view;
    }
    // Back to the registered state for whoever runs next.
    EXPECT_EQ(RunProgram(L"\"" + serverPath + L"\" /RegServer", 30000).exitCode, 0u);
}

}  // namespace
}  // namespace tw::opc
