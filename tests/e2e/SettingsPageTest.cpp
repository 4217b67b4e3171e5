// The real Settings page under Wine: select a device, add a register through the dialog, answer the
// message box, and find the register in the database. Screenshots land in the build tree.
#include <gtest/gtest.h>

#include <string>

#include "ProcessDriver.h"
// after windows.h
#include <commctrl.h>
#include <sqlite3.h>

#include "resource.h"

namespace tw::e2e {
namespace {

constexpr DWORD kWaitMs = 20000;

std::string Utf8(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
    return s;
}

void Exec(sqlite3* db, const char* sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
}

// A configuration with one device, as an operator would have left it.
void WriteConfiguration(const std::wstring& path) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Utf8(path).c_str(), &db), SQLITE_OK);
    Exec(db,
         "CREATE TABLE DEVICE (ID INTEGER PRIMARY KEY AUTOINCREMENT, DESCRIPTION VARCHAR(100), IP_ADDRESS "
         "VARCHAR(15), PORT INTEGER, UNIT_ID INTEGER, DISABLED INTEGER DEFAULT 0);"
         "CREATE TABLE I_O_SETTING (ID INTEGER PRIMARY KEY AUTOINCREMENT, DEVICE_ID INTEGER, DESCRIPTION "
         "VARCHAR(100), REGISTER_NO INTEGER, REGISTER_TYPE INTEGER, TAG_NAME VARCHAR(100));"
         "INSERT INTO DEVICE (DESCRIPTION, IP_ADDRESS, PORT, UNIT_ID, DISABLED) VALUES ('Boiler PLC', "
         "'127.0.0.1', 1, 1, 1);"
         "INSERT INTO I_O_SETTING (DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE, TAG_NAME) VALUES "
         "(1, 'Temperature', 1, 0, 'Boiler.Temp');");
    sqlite3_close(db);
}

std::string QueryRegister(const std::wstring& path, const char* tag) {
    sqlite3* db = nullptr;
    std::string row;
    if (sqlite3_open(Utf8(path).c_str(), &db) != SQLITE_OK) return row;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT DEVICE_ID, DESCRIPTION, REGISTER_NO, REGISTER_TYPE FROM I_O_SETTING WHERE TAG_NAME = ?",
                       -1, &st, nullptr);
    sqlite3_bind_text(st, 1, tag, -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW)
        row = std::to_string(sqlite3_column_int(st, 0)) + "|" +
              reinterpret_cast<const char*>(sqlite3_column_text(st, 1)) + "|" +
              std::to_string(sqlite3_column_int(st, 2)) + "|" + std::to_string(sqlite3_column_int(st, 3));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return row;
}

void Command(HWND page, int id, int code = BN_CLICKED) {
    PostMessageW(page, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Control(page, id)));
}

void Shot(HWND hwnd, const wchar_t* name) {
    Sleep(300);  // let the window paint what was just set
    CreateDirectoryW(L"screenshots", nullptr);
    EXPECT_TRUE(SaveScreenshot(hwnd, std::wstring(L"screenshots\\") + name)) << "screenshot " << Utf8(name);
}

TEST(SettingsPage, AddRegisterThroughTheDialogReachesTheDatabase) {
    const std::wstring dir = InstallCopy(L"settings page", GatewayFiles());
    const std::wstring database = dir + L"TARNOWICK.GDB";
    WriteConfiguration(database);

    TProcess p = TProcess::Start(dir + L"Tarnowick.exe");
    HWND main = WaitForWindow(p.Pid(), L"TfrmMain", kWaitMs);
    ASSERT_NE(main, nullptr);
    HWND page = GetParent(Control(main, IDC_LBXDEVICES));
    ASSERT_NE(page, nullptr);

    // The operator clicks the "Settings" tab.
    HWND tabs = Control(main, IDC_PAGES);
    PostMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(80, 10));
    PostMessageW(tabs, WM_LBUTTONUP, 0, MAKELPARAM(80, 10));
    for (int i = 0; i < 100 && !IsWindowVisible(page); ++i) Sleep(50);
    ASSERT_TRUE(IsWindowVisible(page)) << "the Settings page did not open";

    // The disabled device is listed; selecting it shows its details and its register.
    HWND list = Control(page, IDC_LBXDEVICES);
    ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 1);
    SendMessageW(list, LB_SETCURSEL, 0, 0);
    Command(page, IDC_LBXDEVICES, LBN_SELCHANGE);
    for (int i = 0; i < 100 && ControlText(page, IDC_EDTDEVDESCRIPTION) != L"Boiler PLC"; ++i) Sleep(50);
    EXPECT_EQ(ControlText(page, IDC_EDTDEVDESCRIPTION), L"Boiler PLC");
    EXPECT_EQ(ControlText(page, IDC_EDTDEVIPADDRESS), L"127.0.0.1");
    EXPECT_EQ(SendMessageW(Control(page, IDC_SGDLIST), LVM_GETITEMCOUNT, 0, 0), 1);
    Shot(main, L"settings-page.bmp");

    // The device dialog, looked at and cancelled.
    Command(page, IDC_BTNEDITDEVICE);
    HWND device = WaitForDialogTitled(p.Pid(), L"Device Setting", kWaitMs);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(ControlText(device, IDC_DS_DESCRIPTION), L"Boiler PLC");
    Shot(device, L"device-setting.bmp");
    ASSERT_TRUE(PressButton(device, L"Cancel"));

    // The device list is refilled after the dialog, so the operator selects the device again.
    for (int i = 0; i < 100 && WaitForDialogTitled(p.Pid(), L"Device Setting", 0); ++i) Sleep(50);
    for (int i = 0; i < 100 && SendMessageW(list, LB_GETCURSEL, 0, 0) != LB_ERR; ++i) Sleep(50);
    SendMessageW(list, LB_SETCURSEL, 0, 0);
    Command(page, IDC_LBXDEVICES, LBN_SELCHANGE);

    // A new coil through the register dialog.
    Command(page, IDC_BBNNEW);
    HWND reg = WaitForDialogTitled(p.Pid(), L"Register Setting", kWaitMs);
    ASSERT_NE(reg, nullptr);
    SetWindowTextW(Control(reg, IDC_IO_DESCRIPTION), L"Pump 'A' running");
    SetWindowTextW(Control(reg, IDC_IO_REGISTERNO), L"17");
    SendMessageW(Control(reg, IDC_IO_TYPE), CB_SETCURSEL, 1, 0);
    SetWindowTextW(Control(reg, IDC_IO_TAGNAME), L"Boiler.Pump");
    Shot(reg, L"register-setting.bmp");
    ASSERT_TRUE(PressButton(reg, L"OK"));

    HWND done = WaitForDialog(p.Pid(), L"New Register added!", kWaitMs);
    ASSERT_NE(done, nullptr) << "no confirmation";
    Shot(done, L"register-added.bmp");
    ASSERT_TRUE(PressButton(done, L"OK"));

    EXPECT_EQ(QueryRegister(database, "Boiler.Pump"), "1|Pump 'A' running|17|1");
    for (int i = 0; i < 100 && SendMessageW(Control(page, IDC_SGDLIST), LVM_GETITEMCOUNT, 0, 0) != 2; ++i) Sleep(50);
    EXPECT_EQ(SendMessageW(Control(page, IDC_SGDLIST), LVM_GETITEMCOUNT, 0, 0), 2);

    ASSERT_TRUE(SendCopyData(main, "Exit"));
    EXPECT_TRUE(p.WaitExit(15000));
}

}  // namespace
}  // namespace tw::e2e
