// The real exe under Wine: single instance per path, the "Exit" message, the close confirmation,
// the first start's database and log lines, and a missing sibling library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>

#include "ProcessDriver.h"

namespace tw::e2e {
namespace {

constexpr DWORD kStartMs = 20000;
constexpr DWORD kExitMs = 15000;
constexpr int kLogMemoId = 1001;  // IDC_MMOLOG

std::wstring ExpectedMutexName(const std::wstring& exe) {
    std::wstring name = L"APPLICATION-" + exe;
    for (wchar_t& c : name) c = c == L'\\' ? L'_' : static_cast<wchar_t>(std::towupper(c));
    return name;
}

// Ends a gateway through the "Exit" message, which asks nothing.
void ExitGateway(TProcess& p, HWND main) {
    ASSERT_TRUE(SendCopyData(main, "Exit"));
    DWORD code = 1;
    ASSERT_TRUE(p.WaitExit(kExitMs, &code)) << "still running after \"Exit\"";
    EXPECT_EQ(code, 0u);
}

TEST(Startup, SecondStartOfSameExeIsRefusedWhileACopyElsewhereRuns) {
    const std::wstring first = InstallCopy(L"first copy", GatewayFiles()) + L"Tarnowick.exe";
    const std::wstring other = InstallCopy(L"Other Copy", GatewayFiles()) + L"Tarnowick.exe";

    TProcess a = TProcess::Start(first);
    ASSERT_NE(a.Pid(), 0u);
    HWND mainA = WaitForWindow(a.Pid(), L"TfrmMain", kStartMs);
    ASSERT_NE(mainA, nullptr) << "the first instance showed no main window";
    EXPECT_EQ(WindowText(mainA), L"Velmora Tarnowick");

    // The guard's mutex: "APPLICATION-" + the upper-cased path with "\" as "_" (spaces kept).
    HANDLE m = OpenMutexW(SYNCHRONIZE, FALSE, ExpectedMutexName(first).c_str());
    EXPECT_NE(m, nullptr) << "no mutex named for the path";
    if (m) CloseHandle(m);

    TProcess again = TProcess::Start(first);
    HWND box = WaitForDialog(again.Pid(), L"Velmora Tarnowick is already running!", kStartMs);
    ASSERT_NE(box, nullptr) << "no refusal shown";
    EXPECT_EQ(WindowText(box), L"Error");
    EXPECT_EQ(ButtonCaptions(box), std::vector<std::wstring>{L"OK"});
    EXPECT_EQ(WaitForWindow(again.Pid(), L"TfrmMain", 0), nullptr);
    ASSERT_TRUE(PressButton(box, L"OK"));
    ASSERT_TRUE(again.WaitExit(kExitMs));
    EXPECT_TRUE(a.Running()) << "the refused start disturbed the first instance";

    TProcess b = TProcess::Start(other);
    HWND mainB = WaitForWindow(b.Pid(), L"TfrmMain", kStartMs);
    ASSERT_NE(mainB, nullptr) << "a copy at another path must run beside the first";

    ExitGateway(a, mainA);
    ExitGateway(b, mainB);
}

TEST(Startup, FirstStartCreatesTheDatabaseAndLogsTheConnection) {
    const std::wstring dir = InstallCopy(L"fresh", GatewayFiles());
    TProcess p = TProcess::Start(dir + L"Tarnowick.exe");
    HWND main = WaitForWindow(p.Pid(), L"TfrmMain", kStartMs);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(AnyDialog(p.Pid()), nullptr) << "a normal start shows no box: " << WindowText(AnyDialog(p.Pid()));

    std::wstring log = ControlText(main, kLogMemoId);
    std::wstring db = dir + L"TARNOWICK.GDB";
    EXPECT_NE(log.find(L" Connecting to database \"" + db + L"\"."), std::wstring::npos) << log;
    EXPECT_NE(log.find(L" Database \"" + db + L"\" connected."), std::wstring::npos) << log;
    EXPECT_NE(GetFileAttributesW(db.c_str()), INVALID_FILE_ATTRIBUTES) << "no database created";
    ExitGateway(p, main);
}

TEST(Startup, OnlyTheExactExitTextClosesWithoutAQuestion) {
    TProcess p = TProcess::Start(InstallCopy(L"exit message", GatewayFiles()) + L"Tarnowick.exe");
    HWND main = WaitForWindow(p.Pid(), L"TfrmMain", kStartMs);
    ASSERT_NE(main, nullptr);

    ASSERT_TRUE(SendCopyData(main, "exit"));
    ASSERT_TRUE(SendCopyData(main, "Exit" + std::string(300, 'x')));
    ASSERT_TRUE(SendCopyData(main, std::string(4000, 'E')));
    EXPECT_FALSE(p.WaitExit(1000)) << "a text other than \"Exit\" closed the program";
    EXPECT_EQ(AnyDialog(p.Pid()), nullptr);

    ASSERT_TRUE(SendCopyData(main, std::string("Exit\0tail", 9)));
    DWORD code = 1;
    EXPECT_TRUE(p.WaitExit(kExitMs, &code));
    EXPECT_EQ(code, 0u);
}

TEST(Startup, CloseAsksAndCancelKeepsRunning) {
    TProcess p = TProcess::Start(InstallCopy(L"close", GatewayFiles()) + L"Tarnowick.exe");
    HWND main = WaitForWindow(p.Pid(), L"TfrmMain", kStartMs);
    ASSERT_NE(main, nullptr);

    PostMessageW(main, WM_CLOSE, 0, 0);
    HWND ask = WaitForDialog(p.Pid(), L"Are you sure to exit Velmora Tarnowick?", kStartMs);
    ASSERT_NE(ask, nullptr);
    EXPECT_EQ(WindowText(ask), L"Confirmation");
    EXPECT_EQ(ButtonCaptions(ask), (std::vector<std::wstring>{L"Yes", L"Cancel"}));
    ASSERT_TRUE(PressButton(ask, L"Cancel"));
    EXPECT_FALSE(p.WaitExit(1000)) << "Cancel closed the program";

    PostMessageW(main, WM_CLOSE, 0, 0);
    ask = WaitForDialog(p.Pid(), L"Are you sure to exit Velmora Tarnowick?", kStartMs);
    ASSERT_NE(ask, nullptr);
    ASSERT_TRUE(PressButton(ask, L"Yes"));
    DWORD code = 1;
    EXPECT_TRUE(p.WaitExit(kExitMs, &code));
    EXPECT_EQ(code, 0u);
}

TEST(Startup, MissingLibraryIsReportedAndStartGoesOn) {
    std::vector<std::wstring> files = GatewayFiles();
    files.erase(std::find(files.begin(), files.end(), L"vxGeneral.dll"));
    TProcess p = TProcess::Start(InstallCopy(L"no general", files) + L"Tarnowick.exe");
    HWND box = WaitForDialog(p.Pid(), L"vxGeneral.dll not loaded!", kStartMs);
    ASSERT_NE(box, nullptr) << "the missing library was not reported";
    ASSERT_TRUE(PressButton(box, L"OK"));
    HWND main = WaitForWindow(p.Pid(), L"TfrmMain", kStartMs);
    ASSERT_NE(main, nullptr) << "start-up did not go on";
    ExitGateway(p, main);
}

}  // namespace
}  // namespace tw::e2e
