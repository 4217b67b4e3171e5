// The real exe against the demo Modbus device (started by the ctest fixture): scanning starts by itself,
// "Start Polling" brings live values into the grid, Stop freezes them, and a device that is down runs
// simulated with one warning.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ConfigDatabase.h"
#include "ProcessDriver.h"
// after windows.h
#include <commctrl.h>

#include "resource.h"

namespace tw::e2e {
namespace {

constexpr DWORD kWaitMs = 20000;

std::string DemoPort() {
    const char* port = std::getenv("TW_DEMO_PORT");
    return port ? port : "5020";
}

void Command(HWND page, int id, int code = BN_CLICKED) {
    PostMessageW(page, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Control(page, id)));
}

// Waits until the cell differs from `than`; returns what it holds then.
std::wstring WaitCellChange(HWND grid, int item, int column, const std::wstring& than, DWORD timeoutMs) {
    std::wstring now = ListViewCell(grid, item, column);
    for (DWORD waited = 0; now == than && waited < timeoutMs; waited += 50) {
        Sleep(50);
        now = ListViewCell(grid, item, column);
    }
    return now;
}

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

TEST(Polling, LiveValuesFlowWhilePollingAndFreezeAfterStop) {
    const std::wstring dir = InstallCopy(L"polling", GatewayFiles());
    ASSERT_EQ(ExecSql(dir + L"TARNOWICK.GDB",
                      std::string(kConfigSchema) +
                          "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED) VALUES "
                          "('Boiler PLC', '127.0.0.1', " + DemoPort() + ", 1, 0), ('Dead PLC', '127.0.0.1', 1, 1, 0);"
                          "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME) "
                          "VALUES (1, 'A Counter', 1, 0, 'Boiler.Counter'), (1, 'B Level', 2, 0, 'Boiler.Level'),"
                          "(2, 'Flow', 1, 0, 'Dead.Flow');"),
              "");

    TProcess p = TProcess::Start(dir + L"Tarnowick.exe");
    HWND main = WaitForWindow(p.Pid(), L"TfrmMain", kWaitMs);
    ASSERT_NE(main, nullptr);

    // Scanning starts by itself; the device that is down comes up simulated, with one warning.
    HWND warning = WaitForDialog(p.Pid(), L"Some devices could not be connected, thus running simulation mode!", kWaitMs);
    ASSERT_NE(warning, nullptr) << "no simulation warning";
    EXPECT_EQ(WindowText(warning), L"Warning");
    EXPECT_TRUE(TakeScreenshot(warning, L"simulation-warning.bmp"));
    ASSERT_TRUE(PressButton(warning, L"OK"));
    std::wstring log = ControlText(main, IDC_MMOLOG);
    EXPECT_TRUE(Contains(log, L" Device \"Boiler PLC\" started!")) << log;
    EXPECT_TRUE(Contains(log, L" Device \"Dead PLC\" started in Simulation mode!")) << log;
    EXPECT_TRUE(Contains(log, L" All enabled devices successfully started!")) << log;

    // The Settings page with the live device selected: nothing is read before "Start Polling".
    HWND page = GetParent(Control(main, IDC_LBXDEVICES));
    ClickTab(Control(main, IDC_PAGES), kSettingsTab);
    for (int i = 0; i < 100 && !IsWindowVisible(page); ++i) Sleep(50);
    ASSERT_TRUE(IsWindowVisible(page));
    SendMessageW(Control(page, IDC_LBXDEVICES), LB_SETCURSEL, 0, 0);
    Command(page, IDC_LBXDEVICES, LBN_SELCHANGE);
    HWND grid = Control(page, IDC_SGDLIST);
    constexpr int kValue = 5;
    ASSERT_EQ(WaitCellChange(grid, 0, 1, L"", 5000), L"A Counter");
    EXPECT_EQ(ListViewCell(grid, 0, kValue), L"0");
    Sleep(1500);
    EXPECT_EQ(ListViewCell(grid, 0, kValue), L"0") << "a register was read before \"Start Polling\"";

    // "Start Polling": the counter shows the device's value within a second and keeps moving.
    SendMessageW(Control(page, IDC_CBXSTARTPOLLING), BM_SETCHECK, BST_CHECKED, 0);
    Command(page, IDC_CBXSTARTPOLLING);
    const std::wstring first = WaitCellChange(grid, 0, kValue, L"0", 1500);
    EXPECT_NE(first, L"0") << "no live value within a second and a half";
    EXPECT_NE(WaitCellChange(grid, 0, kValue, first, 3000), first) << "the value did not follow the device";
    EXPECT_TRUE(TakeScreenshot(main, L"settings-live-values.bmp"));

    // Stop: the box stays ticked, the values freeze.
    Command(GetParent(Control(main, IDC_BBNSTOP)), IDC_BBNSTOP);
    for (int i = 0; i < 100 && !Contains(ControlText(main, IDC_MMOLOG), L"Device \"Dead PLC\" stopped!"); ++i)
        Sleep(50);
    EXPECT_EQ(SendMessageW(Control(page, IDC_CBXSTARTPOLLING), BM_GETCHECK, 0, 0), BST_CHECKED);
    const std::wstring frozen = ListViewCell(grid, 0, kValue);
    EXPECT_EQ(WaitCellChange(grid, 0, kValue, frozen, 2500), frozen) << "values changed after Stop";

    ClickTab(Control(main, IDC_PAGES), kMonitorTab);
    for (int i = 0; i < 100 && IsWindowVisible(page); ++i) Sleep(50);
    EXPECT_EQ(SendMessageW(Control(page, IDC_CBXSTARTPOLLING), BM_GETCHECK, 0, 0), BST_UNCHECKED)
        << "leaving the Settings page must clear \"Start Polling\"";
    log = ControlText(main, IDC_MMOLOG);
    EXPECT_TRUE(Contains(log, L" Device \"Boiler PLC\" stopped!")) << log;
    EXPECT_TRUE(TakeScreenshot(main, L"monitor-page.bmp"));

    ASSERT_TRUE(SendCopyData(main, "Exit"));
    EXPECT_TRUE(p.WaitExit(15000));
}

}  // namespace
}  // namespace tw::e2e
