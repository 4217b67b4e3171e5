#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FakeRegistry.h"
#include "FakeGeneral.h"
#include "Tarnowick.h"
#include "opc/ComText.h"
#include "opc/registration/ClassRegistration.h"
#include "opc/registration/ComCat.h"
#include "opc/registration/ComServer.h"
#include "opc/registration/ConsoleRegistration.h"
#include "opc/registration/RegDeRegServer.h"

namespace tw::opc {
namespace {

using test::TFakeRegistry;
using ::testing::_;
using ::testing::Return;

class TMockGeneral : public test::TStubGeneral {
public:
    MOCK_METHOD(int, ShowMsg, (const std::string&, int, int, int), (override));
};

const std::string kDa2Key = "CLSID\\{FE4F5263-11D5-4724-95BA-A978983B6369}";

TEST(StartMode, SwitchesAreWordsAfterSlashOrDashInAnyCase) {
    EXPECT_EQ(ParseStartMode(L""), TStartMode::Normal);
    EXPECT_EQ(ParseStartMode(nullptr), TStartMode::Normal);
    EXPECT_EQ(ParseStartMode(L"/RegServer"), TStartMode::RegServer);
    EXPECT_EQ(ParseStartMode(L"-regserver"), TStartMode::RegServer);
    EXPECT_EQ(ParseStartMode(L"  /UNREGSERVER "), TStartMode::UnregServer);
    EXPECT_EQ(ParseStartMode(L"-Embedding"), TStartMode::Embedding);
    EXPECT_EQ(ParseStartMode(L"/automation"), TStartMode::Automation);
    EXPECT_EQ(ParseStartMode(L"/RegServer -Embedding"), TStartMode::Embedding);
    EXPECT_EQ(ParseStartMode(L"/UnregServer /RegServer"), TStartMode::RegServer);
    EXPECT_EQ(ParseStartMode(L"RegServer"), TStartMode::Normal);
    EXPECT_EQ(ParseStartMode(L"/RegServerX"), TStartMode::Normal);
    // A switch of our own changes no start mode.
    EXPECT_EQ(ParseStartMode(L"/StartPolling"), TStartMode::Normal);
    EXPECT_EQ(ParseStartMode(L"-Embedding /StartPolling"), TStartMode::Embedding);
    EXPECT_TRUE(HasSwitch(L"/StartPolling", L"StartPolling"));
    EXPECT_TRUE(HasSwitch(L"-Embedding  -startpolling ", L"StartPolling"));
    EXPECT_FALSE(HasSwitch(L"StartPolling", L"StartPolling"));
    EXPECT_FALSE(HasSwitch(L"/StartPollingNow /Start", L"StartPolling"));
    EXPECT_FALSE(HasSwitch(nullptr, L"StartPolling"));
}

TEST(ClassRegistration, WritesEveryClassWithTypeLibraryKeysForTheDescribedOnes) {
    TFakeRegistry reg;
    RegisterComClasses(reg, L"C:\\Tarnowick\\Tarnowick.exe");
    EXPECT_EQ(reg.Values[kDa2Key], "Velmora DA Object");
    EXPECT_EQ(reg.Values[kDa2Key + "\\LocalServer32"], "C:\\Tarnowick\\Tarnowick.exe");
    EXPECT_EQ(reg.Values[kDa2Key + "\\ProgID"], "Tarnowick.DA2");
    EXPECT_EQ(reg.Values[kDa2Key + "\\Version"], "2.0");
    EXPECT_EQ(reg.Values[kDa2Key + "\\TypeLib"], "{775D096D-0F0F-45FA-8EE1-4C1FD194910B}");
    EXPECT_EQ(reg.Values["Tarnowick.DA2\\Clsid"], "{FE4F5263-11D5-4724-95BA-A978983B6369}");
    EXPECT_EQ(reg.Values["Tarnowick.OPCGroup"], "OPCGroup Object");
    // The two enumerators share a CLSID: the last one registered owns its keys.
    const std::string enumKey = "CLSID\\{DDC012F8-A786-4584-856D-044BC1F49414}";
    EXPECT_EQ(reg.Values[enumKey + "\\ProgID"], "Tarnowick.TMRDUnknownEnumerator");
    EXPECT_EQ(reg.Values[enumKey], "VelmoraTarnowick");
    EXPECT_EQ(reg.Values.count(enumKey + "\\TypeLib"), 0u);
    EXPECT_EQ(reg.Values.count("VelmoraTarnowick.DA2.1"), 0u);  // the OPC ProgID is the console's

    UnregisterComClasses(reg);
    EXPECT_EQ(reg.Values.size(), 0u);
    // Subkeys go before their parents, each key by itself.
    const auto pos = [&](const std::string& k) { return std::find(reg.Deletes.begin(), reg.Deletes.end(), k); };
    EXPECT_LT(pos(kDa2Key + "\\TypeLib"), pos(kDa2Key));
    EXPECT_LT(pos(kDa2Key + "\\LocalServer32"), pos(kDa2Key));
}

TEST(ClassRegistration, ServerPathWithASpaceIsWrittenInItsShortForm) {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring dir = std::wstring(temp) + L"tw opc space";
    const std::wstring exe = dir + L"\\Tarnowick server.exe";
    CreateDirectoryW(dir.c_str(), nullptr);
    HANDLE f = CreateFileW(exe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
    const std::string written = LocalServerPath(exe);
    EXPECT_EQ(written.find(' '), std::string::npos) << written;
    EXPECT_NE(GetFileAttributesW(Widen(written).c_str()), INVALID_FILE_ATTRIBUTES);  // names the same file
    EXPECT_EQ(LocalServerPath(L"C:\\Tarnowick\\Tarnowick.exe"), "C:\\Tarnowick\\Tarnowick.exe");
    DeleteFileW(exe.c_str());
    RemoveDirectoryW(dir.c_str());
}

TEST(OPCRegistration, WritesProgIdMarkersAndRaisesOnARefusedWrite) {
    TFakeRegistry reg;
    RegisterOPCServer(kOPCProgId, reg);
    EXPECT_EQ(reg.Writes.front(), "VelmoraTarnowick.DA2.1");
    EXPECT_EQ(reg.Values["VelmoraTarnowick.DA2.1"], "Velmora Tarnowick Data Access Server Version 2.0");
    EXPECT_EQ(reg.Values["VelmoraTarnowick.DA2.1\\CLSID"], "{FE4F5263-11D5-4724-95BA-A978983B6369}");
    EXPECT_EQ(reg.Values["VelmoraTarnowick.DA2.1\\OPC"], "");
    EXPECT_FALSE(reg.Values["VelmoraTarnowick.DA2.1\\OPC\\Vendor"].empty());
    EXPECT_EQ(reg.Values[kDa2Key], "Velmora Tarnowick OPC Data Access");
    EXPECT_EQ(reg.Values[kDa2Key + "\\ProgID"], "VelmoraTarnowick.DA2.1");

    TFakeRegistry refusing;
    refusing.RefuseAfter = 2;
    try {
        RegisterOPCServer(kOPCProgId, refusing);
        FAIL() << "no error raised";
    } catch (const TRegistrationError& e) {
        EXPECT_STREQ(e.what(), "Error creating system registry entry");
    }
    EXPECT_EQ(refusing.Writes.size(), 2u);  // nothing after the refused write
}

// Answers Yes to every question; keeps the texts shown.
class TYesGeneral : public test::TStubGeneral {
public:
    int ShowMsg(const std::string& text, int, int, int) override {
        shown.push_back(text);
        return mrYes;
    }
    std::vector<std::string> shown;
};

// What a client or a server browser does with a ProgID: the CLSID its key names ("" when none).
std::string ResolvedClsid(const TFakeRegistry& reg, const std::string& progId) {
    const auto it = reg.Values.find(progId + "\\CLSID");
    return it == reg.Values.end() ? "" : it->second;
}

TEST(ProgIdResolution, TheNameDa2AnnouncesAndTheOpcProgIdLeadBackToIt) {
    const std::string da2 = "{FE4F5263-11D5-4724-95BA-A978983B6369}";
    // Starts of the exe and the console's buttons, in the orders they happen on a machine.
    struct TRow {
        std::vector<std::string> steps;
        bool opcProgIdResolves;
    };
    const TRow rows[] = {
        {{"start"}, true},
        {{"Register"}, true},
        {{"start", "Register"}, true},
        {{"Register", "start"}, true},
        {{"start", "Register", "Unregister"}, false},
        {{"start", "Register", "Unregister", "start"}, true},
        {{"start", "unregserver"}, false},
        {{"start", "Register", "unregserver"}, false},
    };
    TYesGeneral general;
    for (const TRow& row : rows) {
        std::string trace;
        TFakeRegistry reg;
        for (const std::string& step : row.steps) {
            trace += step + " ";
            if (step == "Register") {
                RegSerBtnClick(general, reg);
            } else if (step == "Unregister") {
                UnRegBtnClick(general, reg);
            } else {
                TComServer server(step == "start" ? L"/RegServer" : L"/UnregServer", general);
                server.SetRegistry(reg);
                server.Initialize();
            }
        }
        SCOPED_TRACE(trace);
        const auto announced = reg.Values.find(kDa2Key + "\\ProgID");
        if (announced != reg.Values.end()) {
            EXPECT_EQ(ResolvedClsid(reg, announced->second), da2);
        }
        EXPECT_EQ(ResolvedClsid(reg, "VelmoraTarnowick.DA2.1") == da2, row.opcProgIdResolves);
        if (row.steps == std::vector<std::string>{"start", "unregserver"}) {
            EXPECT_TRUE(reg.Values.empty());
        }
    }
    // The last unregistration took the class entries: give them back to whoever runs next.
    TFakeRegistry restore;
    TComServer server(L"/RegServer", general);
    server.SetRegistry(restore);
    server.Initialize();
}

// The category manager of the system is the oracle; the category and class are made up for the test.
TEST(CategoryCleanup, ACategoryGoesOnlyWithItsLastClass) {
    const GUID category = {0x5A1E7C3D, 0x2B4F, 0x4E61, {0x9C, 0x0D, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
    const GUID other = {0x5A1E7C3C, 0x2B4F, 0x4E61, {0x9C, 0x0D, 0x11, 0x22, 0x33, 0x44, 0x55, 0x65}};
    const CLSID first = {0x5A1E7C3E, 0x2B4F, 0x4E61, {0x9C, 0x0D, 0x11, 0x22, 0x33, 0x44, 0x55, 0x67}};
    const CLSID second = {0x5A1E7C3F, 0x2B4F, 0x4E61, {0x9C, 0x0D, 0x11, 0x22, 0x33, 0x44, 0x55, 0x68}};
    const std::wstring categoryKey = L"Component Categories\\" + Widen(GuidText(category));
    const auto exists = [](const std::wstring& key) {
        HKEY h;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
        RegCloseKey(h);
        return true;
    };
    const auto categoryExists = [&] { return exists(categoryKey); };
    const std::wstring firstKey = Widen("CLSID\\" + GuidText(first));
    ASSERT_EQ(RegisterClassInCategory(first, category, L"Tarnowick test category"), S_OK);
    ASSERT_EQ(RegisterClassInCategory(second, category, L"Tarnowick test category"), S_OK);
    ASSERT_EQ(RegisterClassInCategory(first, other, L"Tarnowick other test category"), S_OK);
    ASSERT_TRUE(categoryExists());

    // A class leaves one category and stays in the other; then it leaves that one too, and the class
    // key holds nothing more of the categories.
    EXPECT_EQ(UnregisterClassFromCategory(first, category), S_OK);
    EXPECT_TRUE(exists(firstKey + L"\\Implemented Categories\\" + Widen(GuidText(other))));
    EXPECT_EQ(UnregisterClassFromCategory(first, other), S_OK);
    EXPECT_FALSE(exists(firstKey + L"\\Implemented Categories"));
    EXPECT_EQ(UnregisterCategoryIfUnused(category), S_FALSE);
    EXPECT_TRUE(categoryExists());
    EXPECT_EQ(UnregisterClassFromCategory(second, category), S_OK);
    EXPECT_EQ(UnregisterCategoryIfUnused(category), S_OK);
    EXPECT_FALSE(categoryExists());
    EXPECT_EQ(UnregisterCategoryIfUnused(other), S_OK);
    for (const CLSID& c : {first, second}) RegDeleteTreeW(HKEY_CLASSES_ROOT, Widen("CLSID\\" + GuidText(c)).c_str());
}

TEST(ConsoleButtons, RegisterShowsSuccessOrTheErrorInstead) {
    TMockGeneral general;
    TFakeRegistry reg;
    EXPECT_CALL(general, ShowMsg("The OPC Server has been registered successfully!", 2, 4, 0)).WillOnce(Return(1));
    RegSerBtnClick(general, reg);
    ASSERT_EQ(reg.Writes.back(), TFakeRegistry::kProxyStubsKey);  // last, after the OPC entries

    // Refused at the first write, and at the proxy/stubs.
    for (const int refuseAfter : {0, static_cast<int>(reg.Writes.size()) - 1}) {
        TFakeRegistry refusing;
        refusing.RefuseAfter = refuseAfter;
        EXPECT_CALL(general, ShowMsg("Error creating system registry entry", 1, 4, 0)).WillOnce(Return(1));
        RegSerBtnClick(general, refusing);
    }
}

TEST(ConsoleButtons, UnregisterAsksFirstAndNoChangesNothing) {
    TMockGeneral general;
    TFakeRegistry reg;
    const std::string question =
        "Are you sure you want to unregister the OPC server?\r\rAfter unregistered, the OPC server is no longer "
        "available.";
    EXPECT_CALL(general, ShowMsg(question, 3, 3, 0)).WillOnce(Return(7)).WillOnce(Return(6));
    UnRegBtnClick(general, reg);
    EXPECT_TRUE(reg.Deletes.empty());

    EXPECT_CALL(general, ShowMsg("The OPC Server has been unregistered successfully!", 2, 4, 0)).WillOnce(Return(1));
    UnRegBtnClick(general, reg);
    EXPECT_EQ(reg.Deletes.front(), kDa2Key + "\\ProgID");
    EXPECT_EQ(reg.Deletes.back(), "VelmoraTarnowick.DA2.1");
}

// The register mode tells a failure by its exit code, whoever started it; a box only where someone can
// close it: not with /S, as the installer starts it. The proxy/stubs are part of the registration.
TEST(ComServerStart, RegisterModesReportAFailureByExitCodeAndABoxUnlessSilent) {
    TYesGeneral quiet;
    TFakeRegistry whole;
    TComServer counting(L"/RegServer", quiet);
    counting.SetRegistry(whole);
    counting.Initialize();
    ASSERT_EQ(whole.Writes.back(), TFakeRegistry::kProxyStubsKey);
    const int proxyStubsWrite = static_cast<int>(whole.Writes.size()) - 1;

    const struct {
        const wchar_t* commandLine;
        int refuseAfter;
        bool refuseUnregistering;
        bool box;
        int exitCode;
    } rows[] = {
        {L"/REGSERVER", 0, false, true, kExitRegistrationFailed},
        {L"/RegServer /S", 0, false, false, kExitRegistrationFailed},
        {L"-s -regserver", 0, false, false, kExitRegistrationFailed},
        {L"/RegServer", proxyStubsWrite, false, true, kExitRegistrationFailed},
        {L"/RegServer /S", proxyStubsWrite, false, false, kExitRegistrationFailed},
        {L"/RegServer /S", -1, false, false, 0},
        {L"/RegServer", -1, false, false, 0},
        {L"/UnregServer /S", -1, true, false, kExitRegistrationFailed},
        {L"/UnregServer", -1, false, false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << Narrow(row.commandLine) << " refusing after " << row.refuseAfter);
        TYesGeneral general;
        TFakeRegistry reg;
        reg.RefuseAfter = row.refuseAfter;
        reg.RefuseUnregistering = row.refuseUnregistering;
        TComServer server(row.commandLine, general);
        server.SetRegistry(reg);
        EXPECT_FALSE(server.Initialize());
        EXPECT_FALSE(server.StartedByCom());
        EXPECT_EQ(server.ExitCode(), row.exitCode);
        EXPECT_EQ(general.shown, row.box ? std::vector<std::string>{"Error creating system registry entry"}
                                         : std::vector<std::string>{});
    }
}

TEST(ComServerStart, RegisterAndUnregisterModesEndWithoutMessages) {
    TMockGeneral general;
    EXPECT_CALL(general, ShowMsg(_, _, _, _)).Times(0);
    TFakeRegistry reg;
    TComServer reg1(L"-regserver", general);
    reg1.SetRegistry(reg);
    EXPECT_FALSE(reg1.Initialize());
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    EXPECT_EQ(reg.Values[kDa2Key + "\\LocalServer32"], LocalServerPath(exe));
    EXPECT_EQ(reg.Values[TFakeRegistry::kProxyStubsKey], Narrow(exe));  // those beside the exe
    EXPECT_EQ(reg1.ExitCode(), 0);

    TComServer unreg(L"/UnRegServer", general);
    unreg.SetRegistry(reg);
    EXPECT_FALSE(unreg.Initialize());
    EXPECT_EQ(reg.Values.count(kDa2Key + "\\LocalServer32"), 0u);
    EXPECT_EQ(reg.Values.count(TFakeRegistry::kProxyStubsKey), 0u);
    EXPECT_EQ(unreg.ExitCode(), 0);
}

TEST(ComServerStart, NormalStartIgnoresRegistryFailuresAndServes) {
    TMockGeneral general;
    EXPECT_CALL(general, ShowMsg(_, _, _, _)).Times(0);
    TFakeRegistry refusing;
    refusing.RefuseAfter = 0;
    TComServer server(L"", general);
    server.SetRegistry(refusing);
    EXPECT_TRUE(server.Initialize());
    EXPECT_FALSE(server.StartedByCom());
    server.Shutdown();
}

TEST(ServerLifetimeCount, FactoryObjectsAndLocksKeepAComStartedProcess) {
    static int quits = 0;
    quits = 0;
    TServerLifetime lifetime([] { ++quits; });
    TClassFactory* factory = TClassFactory::Create(lifetime, true);
    factory->AddRef();
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void**>(&a)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOPCServer, reinterpret_cast<void**>(&b)), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    a->Release();
    b->Release();
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(lifetime.Count(), 1);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(quits, 1);

    IUnknown* outer = a;
    void* p = nullptr;
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    factory->Release();

    TClassFactory* refusing = TClassFactory::Create(lifetime, false);
    refusing->AddRef();
    EXPECT_EQ(refusing->CreateInstance(nullptr, IID_IUnknown, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    refusing->Release();
    EXPECT_EQ(quits, 1);
}

}  // namespace
}  // namespace tw::opc
