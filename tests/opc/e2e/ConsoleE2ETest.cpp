// The server console, the shutdown dialog and the shutdown requests across processes, with
// command-line clients that advise IOPCShutdown sinks. A stand-in server shows the console as its
// window; the last test drives Tarnowick.exe itself: the Settings page's button and the close of the
// main window, for which this test program is a client that never lets go.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ClientSupport.h"
#include "e2e/ProcessDriver.h"
#include "OPCCOMN.h"
#include "OPCDA.h"
#include "Tarnowick.h"
#include "opc/ComText.h"
#include "opc/server/ConsoleResource.h"

namespace tw::e2e {
namespace {

constexpr DWORD kStartMs = 20000;
constexpr wchar_t kClsid[] = L"{FE4F5263-11D5-4724-95BA-A978983B6369}";
constexpr wchar_t kReasonLine[] = L"shutdown request: Velmora Tarnowick IOPCShutdown request.";

// A program whose output goes to a file that the test reads while it runs.
class TClient {
public:
    explicit TClient(const std::wstring& args) {
        wchar_t temp[MAX_PATH], file[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        GetTempFileNameW(temp, L"cli", 0, file);
        path_ = file;
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        HANDLE out = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = out;
        si.hStdError = out;
        std::wstring line = L"\"" + BinFolder() + L"opcda-cli.exe\" " + args;
        PROCESS_INFORMATION pi{};
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
            process_ = pi.hProcess;
            CloseHandle(pi.hThread);
        }
        CloseHandle(out);
    }
    ~TClient() {
        if (process_) {
            if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
            CloseHandle(process_);
        }
        DeleteFileW(path_.c_str());
    }
    std::wstring Output() const {
        HANDLE f = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
        std::string bytes;
        char buf[4096];
        DWORD n = 0;
        while (f != INVALID_HANDLE_VALUE && ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0) bytes.append(buf, n);
        if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
        return opc::Widen(bytes);
    }
    bool WaitOutput(const std::wstring& text, DWORD ms) const {
        for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(50))
            if (Output().find(text) != std::wstring::npos) return true;
        return false;
    }
    bool WaitExit(DWORD ms, DWORD* code) const {
        if (!process_ || WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return false;
        GetExitCodeProcess(process_, code);
        return true;
    }
    bool Started() const { return process_ != nullptr; }

private:
    std::wstring path_;
    HANDLE process_ = nullptr;
};

// A client holding groups with a sink advised, waiting for the server's request.
std::wstring SinkClient(const std::wstring& groups) { return L"--shutdown-sink=120 " + std::wstring(kClsid) + groups; }

std::vector<std::wstring> ComboEntries(HWND combo) {
    std::vector<std::wstring> entries;
    const LRESULT n = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        wchar_t text[64] = {};
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        entries.emplace_back(text);
    }
    return entries;
}

IOPCServer* Connect() {
    IOPCServer* server = nullptr;
    CoCreateInstance(CLSID_DA2, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer, reinterpret_cast<void**>(&server));
    return server;
}

class ServerConsole : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Our proxy/stub, where no other serves the OPC interfaces (a fresh prefix).
        HMODULE ps = LoadLibraryW((BinFolder() + L"TarnowickPS.dll").c_str());
        ASSERT_NE(ps, nullptr);
        using TEntry = HRESULT(WINAPI*)();
        auto reg = reinterpret_cast<TEntry>(reinterpret_cast<void*>(GetProcAddress(ps, "DllRegisterServer")));
        ASSERT_NE(reg, nullptr);
        EXPECT_EQ(reg(), S_OK);
    }
    void SetUp() override {
        server = std::make_unique<TProcess>(TProcess::Start(BinFolder() + L"opc-console-test-server.exe"));
        ASSERT_NE(server->Pid(), 0u);
        console = WaitForDialogTitled(server->Pid(), L"OPC Server Console", kStartMs);
        ASSERT_NE(console, nullptr) << "no console shown";
    }
    void CloseConsole() {
        EXPECT_TRUE(PressButton(console, L"Close"));
        EXPECT_TRUE(server->WaitExit(15000)) << "the server did not end after its console closed";
    }
    std::unique_ptr<TProcess> server;
    HWND console = nullptr;
};

TEST_F(ServerConsole, CountsClientsAndGroupsAndAsksTheChosenClientToLetGo) {
    EXPECT_TRUE(opc::test::WaitConsoleCounts(console, L"0", L"0", 5000));
    EXPECT_FALSE(IsWindowEnabled(Control(console, IDC_SDBUTTON))) << "Shutdown Request needs a client";

    TClient first(SinkClient(L" add-group A add-group B"));
    ASSERT_TRUE(first.WaitOutput(L"waiting for a shutdown request", kStartMs)) << opc::Narrow(first.Output().c_str());
    TClient second(SinkClient(L" add-group C"));
    ASSERT_TRUE(second.WaitOutput(L"waiting for a shutdown request", kStartMs)) << opc::Narrow(second.Output().c_str());
    EXPECT_TRUE(opc::test::WaitConsoleCounts(console, L"2", L"3", 5000))
        << opc::Narrow(ControlText(console, IDC_CLIENTCONLBL).c_str()) << " / "
        << opc::Narrow(ControlText(console, IDC_GRPCOUNTLBL).c_str());
    EXPECT_TRUE(IsWindowEnabled(Control(console, IDC_SDBUTTON)));
    EXPECT_TRUE(SaveScreenshot(console, BinFolder() + L"opc-server-console.bmp"));

    ASSERT_TRUE(PressButton(console, L"Shutdown Request"));
    HWND pick = WaitForDialogTitled(server->Pid(), L"Select Server to Shutdown...", kStartMs);
    ASSERT_NE(pick, nullptr);
    EXPECT_EQ(ComboEntries(Control(pick, IDC_CBXSERVER)), (std::vector<std::wstring>{L"1", L"2"}));
    EXPECT_EQ(WindowText(Control(pick, IDC_CBXSERVER)), L"1") << "the first entry is selected";
    EXPECT_TRUE(SaveScreenshot(pick, BinFolder() + L"opc-shutdown-dialog.bmp"));
    ASSERT_TRUE(PressButton(pick, L"OK"));

    // Only the first client is asked; it lets go and the console follows.
    DWORD code = 1;
    ASSERT_TRUE(first.WaitExit(15000, &code)) << opc::Narrow(first.Output().c_str());
    EXPECT_EQ(code, 0u);
    EXPECT_NE(first.Output().find(kReasonLine), std::wstring::npos) << opc::Narrow(first.Output().c_str());
    EXPECT_TRUE(opc::test::WaitConsoleCounts(console, L"1", L"1", 5000));
    EXPECT_EQ(second.Output().find(L"shutdown request:"), std::wstring::npos);

    CloseConsole();
}

TEST_F(ServerConsole, BrowseAndPropertiesThroughTheCommandLineClient) {
    const std::wstring cli = std::wstring(kClsid);
    TClient browse(cli + L" browse --filter p* browse --filter [!p]* properties Pump1");
    DWORD code = 1;
    ASSERT_TRUE(browse.WaitExit(30000, &code));
    const std::wstring out = browse.Output();
    EXPECT_EQ(code, 0u) << opc::Narrow(out.c_str());
    EXPECT_NE(out.find(L"  - Pump1\r\n  - pump2\r\nbrowse: ok"), std::wstring::npos) << opc::Narrow(out.c_str());
    EXPECT_NE(out.find(L"  - Valve\r\nproperties: ok"), std::wstring::npos) << opc::Narrow(out.c_str());
    EXPECT_NE(out.find(L"  - 2\tItem Value\t12\t321"), std::wstring::npos) << opc::Narrow(out.c_str());
    EXPECT_NE(out.find(L"  - 6000\tPump1\t18\t321"), std::wstring::npos) << opc::Narrow(out.c_str());

    TClient bad(cli + L" browse --filter [abc");
    ASSERT_TRUE(bad.WaitExit(30000, &code));
    EXPECT_EQ(code, 1u);
    EXPECT_NE(bad.Output().find(L"The filter string was not valid."), std::wstring::npos)
        << opc::Narrow(bad.Output().c_str());

    // Top-level [out] strings and the common interface through the proxy.
    IOPCServer* client = Connect();
    ASSERT_NE(client, nullptr);
    IOPCBrowseServerAddressSpace* space = nullptr;
    ASSERT_EQ(client->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void**>(&space)), S_OK);
    LPWSTR id = nullptr;
    EXPECT_EQ(space->GetItemID(const_cast<LPWSTR>(L"Valve"), &id), S_OK);
    ASSERT_NE(id, nullptr) << "the proxy lost the [out] string";
    EXPECT_STREQ(id, L"Valve");
    CoTaskMemFree(id);
    space->Release();
    IOPCCommon* common = nullptr;
    ASSERT_EQ(client->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(&common)), S_OK);
    EXPECT_EQ(common->SetLocaleID(1033), E_INVALIDARG);
    EXPECT_EQ(common->SetClientName(L"console e2e"), S_OK);
    LPWSTR text = nullptr;
    EXPECT_EQ(common->GetErrorString(static_cast<HRESULT>(0xC0040009L), &text), S_OK);
    ASSERT_NE(text, nullptr) << "the proxy lost the [out] string";
    EXPECT_STREQ(text, L"The filter string was not valid.");
    CoTaskMemFree(text);
    common->Release();
    client->Release();

    CloseConsole();
}

// Tarnowick.exe itself: the "Local OPC Server" button opens the console; closing the main window
// asks every advised client to let go and ends within about 5 s although this program holds on.
TEST(Gateway, ConsoleFromTheSettingsPageAndTheCloseThatWaitsForClients) {
    TProcess gateway = TProcess::Start(InstallCopy(L"console", GatewayFiles()) + L"Tarnowick.exe");
    HWND main = WaitForWindow(gateway.Pid(), L"TfrmMain", kStartMs);
    ASSERT_NE(main, nullptr);
    TClient sinkClient(SinkClient(L" add-group A add-group B"));
    ASSERT_TRUE(sinkClient.WaitOutput(L"waiting for a shutdown request", kStartMs))
        << opc::Narrow(sinkClient.Output().c_str());
    IOPCServer* holdout = Connect();
    ASSERT_NE(holdout, nullptr);

    HWND console = opc::test::OpenServerConsole(gateway.Pid(), main, kStartMs);
    ASSERT_NE(console, nullptr) << "the Local OPC Server button opened no console";
    EXPECT_TRUE(opc::test::WaitConsoleCounts(console, L"2", L"2", 5000));
    ASSERT_TRUE(PressButton(console, L"Close"));

    const DWORD start = GetTickCount();
    ASSERT_TRUE(SendCopyData(main, "Exit"));
    // From the request's arrival at the sink to the main window's end, the close waits for this
    // program, which never lets go, for about 5 s; stopping and tearing down take their own time.
    DWORD requestedMs = 0;
    while (IsWindow(main) && GetTickCount() - start < 20000) {
        if (!requestedMs && sinkClient.Output().find(L"shutdown request:") != std::wstring::npos)
            requestedMs = GetTickCount() - start;
        Sleep(20);
    }
    const DWORD closedMs = GetTickCount() - start;
    DWORD code = 1;
    ASSERT_TRUE(gateway.WaitExit(15000, &code)) << "still running after the close";
    ASSERT_NE(requestedMs, 0u) << "the advised client was not asked to let go";
    EXPECT_GE(closedMs - requestedMs, 4500u) << "the close did not wait for the client still connected";
    EXPECT_LE(closedMs - requestedMs, 7500u) << "the close waited far longer than 5 s";
    ASSERT_TRUE(sinkClient.WaitExit(5000, &code));
    EXPECT_NE(sinkClient.Output().find(kReasonLine), std::wstring::npos) << opc::Narrow(sinkClient.Output().c_str());
    holdout->Release();
}

}  // namespace
}  // namespace tw::e2e
