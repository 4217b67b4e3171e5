#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>

#include <commctrl.h>

#include "../ShellFakes.h"
#include "acquisition/ModBusObjList.h"
#include "acquisition/PollingSwitch.h"
#include "acquisition/win32/SimulateDialog.h"
#include "run_resource.h"
#include "ui/win32/DialogText.h"
#include "shell/win32/PasswordDialog.h"
#include "shell/win32/RunView.h"
#include "shell/win32/TrayIcon.h"

namespace tw::test {
namespace {

HINSTANCE Module() { return GetModuleHandleW(nullptr); }

struct FakePasswordNone : IPasswordDialog {
    std::optional<std::string> Execute() override { return std::nullopt; }
};

// Acts on this thread's dialog with the given caption from inside its modal loop, once it exists.
class DialogDriver {
public:
    DialogDriver(const wchar_t* caption, std::function<void(HWND)> action) {
        caption_ = caption;
        action_ = std::move(action);
        timer_ = SetTimer(nullptr, 0, 20, Tick);
    }
    ~DialogDriver() {
        if (timer_) KillTimer(nullptr, timer_);
        timer_ = 0;
    }

private:
    static BOOL CALLBACK Find(HWND hwnd, LPARAM found) {
        wchar_t text[128] = {}, cls[16] = {};
        GetClassNameW(hwnd, cls, 16);
        GetWindowTextW(hwnd, text, 128);
        if (std::wstring(cls) == L"#32770" && caption_ == text) {
            *reinterpret_cast<HWND*>(found) = hwnd;
            return FALSE;
        }
        return TRUE;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) {
        HWND dialog = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), Find, reinterpret_cast<LPARAM>(&dialog));
        if (!dialog || !action_) return;
        KillTimer(nullptr, id);
        timer_ = 0;
        auto action = std::move(action_);
        action_ = nullptr;
        action(dialog);
    }
    static inline std::wstring caption_;
    static inline std::function<void(HWND)> action_;
    static inline UINT_PTR timer_ = 0;
};

void Press(HWND dialog, int id) { PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

// A visible owner somewhere off the screen's centre, shared: without a window manager Wine waits about
// two seconds for every top-level window that goes away.
HWND Owner() {
    static HWND owner = CreateWindowExW(0, L"STATIC", L"Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 60, 500, 400,
                                        nullptr, nullptr, Module(), nullptr);
    return owner;
}

POINT Centre(HWND hwnd) {
    RECT r;
    GetWindowRect(hwnd, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

TEST(PasswordDialog, GivesTheTypedTextAfterOkAndNothingAfterCancel) {
    TPasswordDlg dialog(Module(), Owner());
    LONG style = 0;
    DialogDriver driver(L"Enter Password", [&](HWND d) {
        style = GetWindowLongW(GetDlgItem(d, IDC_PASSWORD_EDIT), GWL_STYLE);
        SetDlgItemTextA(d, IDC_PASSWORD_EDIT, "S3cret x");
        Press(d, IDOK);
    });
    EXPECT_EQ(dialog.Execute(), std::optional<std::string>("S3cret x"));
    EXPECT_TRUE(style & ES_PASSWORD);

    DialogDriver empty(L"Enter Password", [](HWND d) { Press(d, IDOK); });
    EXPECT_EQ(dialog.Execute(), std::optional<std::string>(""));

    DialogDriver cancel(L"Enter Password", [](HWND d) {
        SetDlgItemTextA(d, IDC_PASSWORD_EDIT, "typed");
        Press(d, IDCANCEL);
    });
    EXPECT_EQ(dialog.Execute(), std::nullopt);
}

void SetClipboardText(HWND owner, const wchar_t* text) {
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    const std::size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    memcpy(GlobalLock(memory), text, bytes);
    GlobalUnlock(memory);
    SetClipboardData(CF_UNICODETEXT, memory);
    CloseClipboard();
}

TEST(SimulateDialog, ShowsTheTagInBoldFiltersTheValueAndSets) {
    TSimulateDialog dialog(Module(), Owner());
    TfrmSimulate form;
    form.lblOPCTag = "Tank.Level";
    form.edtValue = "12";
    std::string label, before, afterKeys, afterPastes;
    LONG weight = 0;
    POINT centre{}, ownerCentre = Centre(Owner());
    DialogDriver driver(L"Simulate String Received", [&](HWND d) {
        HWND tag = GetDlgItem(d, IDC_LBLOPCTAG), value = GetDlgItem(d, IDC_EDTVALUE);
        label = WindowTextA(tag);
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(tag, WM_GETFONT, 0, 0)), sizeof font, &font);
        weight = font.lfWeight;
        centre = Centre(d);
        before = WindowTextA(value);
        SendMessageW(value, EM_SETSEL, 2, 2);
        for (wchar_t key : {L'a', L'-', L'3', L'.', L'\u00e9', L'4'}) SendMessageW(value, WM_CHAR, key, 0);
        SendMessageW(value, EM_SETSEL, 0, 0);
        SendMessageW(value, WM_CHAR, L'-', 0);
        afterKeys = WindowTextA(value);
        SendMessageW(value, EM_SETSEL, 0, -1);
        SetClipboardText(d, L"7x");
        SendMessageW(value, WM_PASTE, 0, 0);
        SetClipboardText(d, L"99999999999");
        SendMessageW(value, WM_PASTE, 0, 0);
        SetClipboardText(d, L"-65");
        SendMessageW(value, WM_PASTE, 0, 0);
        afterPastes = WindowTextA(value);
        Press(d, IDOK);
    });
    EXPECT_TRUE(dialog.Execute(form));
    EXPECT_EQ(label, "Tank.Level");
    EXPECT_GE(weight, FW_BOLD);
    EXPECT_EQ(before, "12");
    EXPECT_EQ(afterKeys, "-1234");
    EXPECT_EQ(afterPastes, "-65");
    EXPECT_EQ(form.edtValue, "-65");
    EXPECT_LE(std::abs(centre.x - ownerCentre.x), 2);
    EXPECT_LE(std::abs(centre.y - ownerCentre.y), 2);

    DialogDriver cancel(L"Simulate String Received", [](HWND d) {
        SetDlgItemTextA(d, IDC_EDTVALUE, "5");
        Press(d, IDCANCEL);
    });
    EXPECT_FALSE(dialog.Execute(form));
    EXPECT_EQ(form.edtValue, "-65");
}

std::wstring ItemText(HMENU menu, int position) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, static_cast<UINT>(position), text, 64, MF_BYPOSITION);
    return text;
}

TEST(TrayIcon, ClickShowsAndTheMenuOffersShowAboutExit) {
    TTrayIcon tray(Module(), Owner(), WM_APP + 7);
    EXPECT_EQ(tray.HandleCallback(1, WM_LBUTTONUP), TTrayCommand::Show);
    EXPECT_EQ(tray.HandleCallback(1, WM_MOUSEMOVE), TTrayCommand::None);
    HMENU menu = tray.CreatePopupMenuHandle();
    ASSERT_NE(menu, nullptr);
    // Exactly these items, in this order, nothing between them.
    std::vector<std::pair<std::wstring, TTrayCommand>> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i)
        items.emplace_back(ItemText(menu, i), TTrayIcon::CommandOf(GetMenuItemID(menu, i)));
    EXPECT_EQ(items, (std::vector<std::pair<std::wstring, TTrayCommand>>{
                         {L"Show", TTrayCommand::Show}, {L"About", TTrayCommand::About}, {L"E&xit", TTrayCommand::Exit}}));
    EXPECT_EQ(GetMenuDefaultItem(menu, FALSE, 0), static_cast<UINT>(IDM_TRAY_SHOW));
    DestroyMenu(menu);
}

// The controller on real controls: the check box's click drives polling, and clearing it from the
// program sends no second click.
TEST(RunView, DrivesRealControlsWithoutFeedingClicksBack) {
    auto control = [&](const wchar_t* text, DWORD style, int y) {
        return CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | style, 10, y, 120, 20, Owner(),
                               nullptr, Module(), nullptr);
    };
    TRunControls controls{control(L"Start", BS_PUSHBUTTON, 10), control(L"Stop", BS_PUSHBUTTON, 40),
                          control(L"Start Polling", BS_AUTOCHECKBOX, 70)};
    TTrayIcon tray(Module(), Owner(), WM_APP + 7);
    ASSERT_TRUE(tray.Add());
    const HICON initial = tray.Icon();
    ASSERT_NE(initial, nullptr);
    TRunView view(Module(), Owner(), tray, controls);
    FakeView main;
    FakeGeneral general;
    TEventLog log(main, general);
    TModBusObjList devices;
    FakePasswordNone password;
    TRunController run(main, view, password, general, log, devices);

    struct Clicks {
        TRunController& run;
        HWND box;
        int count = 0;
    } clicks{run, controls.StartPolling};
    SUBCLASSPROC parent = [](HWND h, UINT m, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR data) -> LRESULT {
        auto* c = reinterpret_cast<Clicks*>(data);
        if (m == WM_COMMAND && reinterpret_cast<HWND>(l) == c->box && HIWORD(w) == BN_CLICKED) {
            ++c->count;
            c->run.cbxStartPollingClick();
        }
        return DefSubclassProc(h, m, w, l);
    };
    SetWindowSubclass(Owner(), parent, 1, reinterpret_cast<DWORD_PTR>(&clicks));

    SendMessageW(controls.StartPolling, BM_CLICK, 0, 0);
    EXPECT_TRUE(PollingSwitch);
    EXPECT_TRUE(main.TimerEnabled(tmrOPCServerPulse));
    run.tstSettingsHide();
    EXPECT_EQ(SendMessageW(controls.StartPolling, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_FALSE(PollingSwitch);
    EXPECT_FALSE(main.TimerEnabled(tmrRefresh));
    EXPECT_EQ(clicks.count, 1);

    run.bbnStartClick();
    EXPECT_FALSE(IsWindowEnabled(controls.Start));
    EXPECT_TRUE(IsWindowEnabled(controls.Stop));
    const HICON running = tray.Icon();
    EXPECT_NE(running, nullptr);
    EXPECT_NE(running, initial);
    run.bbnStopClick();
    EXPECT_TRUE(IsWindowEnabled(controls.Start));
    EXPECT_FALSE(IsWindowEnabled(controls.Stop));
    EXPECT_EQ(tray.Icon(), initial);
    RemoveWindowSubclass(Owner(), parent, 1);
    for (HWND c : {controls.Start, controls.Stop, controls.StartPolling}) DestroyWindow(c);
}

}  // namespace
}  // namespace tw::test
