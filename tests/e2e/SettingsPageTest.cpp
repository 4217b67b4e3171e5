// The real Settings page under Wine: select a device, save it and add a register through the dialogs,
// answer the message boxes, and find both in the database. Screenshots land in the build tree.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ConfigDatabase.h"
#include "ProcessDriver.h"
// after windows.h
#include <commctrl.h>

#include "resource.h"

namespace tw::e2e {
namespace {

constexpr DWORD kWaitMs = 20000;

// A configuration with one device, as an operator would have left it.
void WriteConfiguration(const std::wstring& path) {
    ASSERT_EQ(ExecSql(path, std::string(kConfigSchema) +
                                "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED) VALUES "
                                "('Boiler PLC', '127.0.0.1', 1, 1, 1);"
                                "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, "
                                "TAG_NAME) VALUES (1, 'Temperature', 1, 0, 'Boiler.Temp');"),
              "");
}

void Command(HWND page, int id, int code = BN_CLICKED) {
    PostMessageW(page, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Control(page, id)));
}

// What an operator does on the Settings page of the gateway in `dir`: in the dialog of the first
// device (`device`, with `registers` registers) ticks "Block reads" and saves, then adds a coil to it
// through the register dialog; both saves are confirmed and reach the database.
void EditDeviceAndRegister(const std::wstring& dir, const std::wstring& device, LRESULT registers) {
    const std::wstring database = dir + L"TARNOWICK.GDB";
    TProcess p = TProcess::Start(dir + L"Tarnowick.exe");
    HWND main = WaitForWindow(p.Pid(), L"TfrmMain", kWaitMs);
    ASSERT_NE(main, nullptr);
    HWND page = GetParent(Control(main, IDC_LBXDEVICES));
    ASSERT_NE(page, nullptr);

    // The operator clicks the "Settings" tab.
    ClickTab(Control(main, IDC_PAGES), kSettingsTab);
    for (int i = 0; i < 100 && !IsWindowVisible(page); ++i) Sleep(50);
    ASSERT_TRUE(IsWindowVisible(page)) << "the Settings page did not open";

    // Selecting the device shows its details and its registers.
    HWND list = Control(page, IDC_LBXDEVICES);
    const auto selectDevice = [&] {
        SendMessageW(list, LB_SETCURSEL, 0, 0);
        Command(page, IDC_LBXDEVICES, LBN_SELCHANGE);
        for (int i = 0; i < 100 && ControlText(page, IDC_EDTDEVDESCRIPTION) != device; ++i) Sleep(50);
    };
    ASSERT_GE(SendMessageW(list, LB_GETCOUNT, 0, 0), 1);  // the device comes first by description
    selectDevice();
    EXPECT_EQ(ControlText(page, IDC_EDTDEVDESCRIPTION), device);
    EXPECT_EQ(ControlText(page, IDC_EDTDEVIPADDRESS), L"127.0.0.1");
    EXPECT_EQ(SendMessageW(Control(page, IDC_SGDLIST), LVM_GETITEMCOUNT, 0, 0), registers);
    EXPECT_TRUE(TakeScreenshot(main, L"settings-page.bmp"));

    // Block reads for the device, through its dialog.
    Command(page, IDC_BTNEDITDEVICE);
    HWND dialog = WaitForDialogTitled(p.Pid(), L"Device Setting", kWaitMs);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_DS_DESCRIPTION), device);
    SendMessageW(Control(dialog, IDC_DS_BLOCKREADS), BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_TRUE(TakeScreenshot(dialog, L"device-setting.bmp"));
    ASSERT_TRUE(PressButton(dialog, L"OK"));
    HWND updated = WaitForDialog(p.Pid(), L"Device Settings updated!", kWaitMs);
    ASSERT_NE(updated, nullptr) << "no confirmation";
    ASSERT_TRUE(PressButton(updated, L"OK"));
    EXPECT_EQ(QueryRow(database, "SELECT BLOCK_READS FROM DEVICE WHERE ID = ?", "1"), "1");

    // The device list is refilled after the dialog, so the operator selects the device again.
    for (int i = 0; i < 100 && WaitForDialogTitled(p.Pid(), L"Device Setting", 0); ++i) Sleep(50);
    for (int i = 0; i < 100 && SendMessageW(list, LB_GETCURSEL, 0, 0) != LB_ERR; ++i) Sleep(50);
    selectDevice();

    // A new coil through the register dialog.
    Command(page, IDC_BBNNEW);
    HWND reg = WaitForDialogTitled(p.Pid(), L"Register Setting", kWaitMs);
    ASSERT_NE(reg, nullptr);
    SetWindowTextW(Control(reg, IDC_IO_DESCRIPTION), L"Pump 'A' running");
    SetWindowTextW(Control(reg, IDC_IO_REGISTERNO), L"17");
    SendMessageW(Control(reg, IDC_IO_TYPE), CB_SETCURSEL, 1, 0);
    SetWindowTextW(Control(reg, IDC_IO_TAGNAME), L"Boiler.Pump");
    EXPECT_TRUE(TakeScreenshot(reg, L"register-setting.bmp"));
    ASSERT_TRUE(PressButton(reg, L"OK"));

    HWND done = WaitForDialog(p.Pid(), L"New Register added!", kWaitMs);
    ASSERT_NE(done, nullptr) << "no confirmation";
    EXPECT_TRUE(TakeScreenshot(done, L"register-added.bmp"));
    ASSERT_TRUE(PressButton(done, L"OK"));

    EXPECT_EQ(QueryRow(database,
                       "SELECT DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE FROM I_O_SETTING WHERE TAG_NAME = ?",
                       "Boiler.Pump"),
              "1|Pump 'A' running|17|1");
    for (int i = 0; i < 100 && SendMessageW(Control(page, IDC_SGDLIST), LVM_GETITEMCOUNT, 0, 0) != registers + 1; ++i)
        Sleep(50);
    EXPECT_EQ(SendMessageW(Control(page, IDC_SGDLIST), LVM_GETITEMCOUNT, 0, 0), registers + 1);

    ASSERT_TRUE(SendCopyData(main, "Exit"));
    EXPECT_TRUE(p.WaitExit(15000));
}

TEST(SettingsPage, DeviceAndRegisterSavedThroughTheDialogsReachTheDatabase) {
    const std::wstring dir = InstallCopy(L"settings page", GatewayFiles());
    WriteConfiguration(dir + L"TARNOWICK.GDB");  // without the columns added since: the gateway adds them
    EditDeviceAndRegister(dir, L"Boiler PLC", 1);
}

// Run by the installer test in the installed gateway's folder (TW_INSTALLED_GATEWAY, ending in a
// backslash), where it has made sure that no file can be made, as for a normal user; the database holds
// the demo device as an older version left it.
TEST(SettingsPage, DISABLED_InstalledGatewaySavesForANormalUser) {
    const wchar_t* dir = _wgetenv(L"TW_INSTALLED_GATEWAY");
    ASSERT_NE(dir, nullptr) << "TW_INSTALLED_GATEWAY names no folder";
    const std::string registers =
        QueryRow(std::wstring(dir) + L"TARNOWICK.GDB", "SELECT COUNT(*) FROM I_O_SETTING WHERE DEVICE_ID = ?", "1");
    EditDeviceAndRegister(dir, L"Demo device", std::stoi(registers));
}

// Every hint of the window, read from the running process, and the screenshots of two of them shown
// where the operator rests the mouse.
TEST(SettingsPage, ButtonsOfBothPagesCarryTheirHints) {
    TProcess p = TProcess::Start(InstallCopy(L"hints", GatewayFiles()) + L"Tarnowick.exe");
    HWND main = WaitForWindow(p.Pid(), L"TfrmMain", kWaitMs);
    ASSERT_NE(main, nullptr);

    std::map<int, std::wstring> hints;  // by control id
    for (const THint& hint : Hints(p.Pid())) hints[GetDlgCtrlID(hint.control)] = hint.text;
    EXPECT_EQ(hints, (std::map<int, std::wstring>{{IDC_BBNSTART, L"Start Scanning"},
                                                  {IDC_BBNSTOP, L"Stop Scanning"},
                                                  {IDC_BBNSAVE, L"Save all"},
                                                  {IDC_BBNNEW, L"New port"}}));

    EXPECT_NE(ShowHint(p.Pid(), Control(main, IDC_BBNSTART), kWaitMs), nullptr) << "no hint on Start";
    EXPECT_TRUE(TakeScreenshot(main, L"monitor-page-hint.bmp"));
    HWND page = GetParent(Control(main, IDC_BBNSAVE));
    ClickTab(Control(main, IDC_PAGES), kSettingsTab);
    for (int i = 0; i < 100 && !IsWindowVisible(page); ++i) Sleep(50);
    ASSERT_TRUE(IsWindowVisible(page)) << "the Settings page did not open";
    EXPECT_NE(ShowHint(p.Pid(), Control(page, IDC_BBNSAVE), kWaitMs), nullptr) << "no hint on Save";
    EXPECT_TRUE(TakeScreenshot(main, L"settings-page-hint.bmp"));

    ASSERT_TRUE(SendCopyData(main, "Exit"));
    EXPECT_TRUE(p.WaitExit(15000));
}

}  // namespace
}  // namespace tw::e2e
