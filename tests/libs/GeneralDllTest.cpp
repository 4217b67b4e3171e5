// vxGeneral.dll loaded by name: the settings file in the exe's folder, the log file, and ShowMsg as a
// real dialog that a second thread finds, reads and answers.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>
#include <vector>

#include "TestFolder.h"
#include "libs/SiblingLibraries.h"

namespace {

class GeneralDll : public ::testing::Test {
protected:
    void SetUp() override {
        libs_.LoadGeneral();
        ASSERT_TRUE(gen().Loaded());
    }
    tw::IGeneral& gen() { return libs_.General(); }

    tw::SiblingLibraries libs_{"", [](const std::string&, const std::string&, unsigned) { return IDOK; }};
};

TEST_F(GeneralDll, SettingsRoundTripInTheExecutablesFolder) {
    const std::string file = "tw-settings-test-" + std::to_string(GetCurrentProcessId()) + ".ini";
    const auto ini = twtest::ExeFolder() / file;
    struct TRemove {
        std::filesystem::path path;
        ~TRemove() {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
    } cleanup{ini};  // bin/ is shared with the other tests: leave nothing behind, also on failure
    EXPECT_FALSE(gen().GetInitSettingBool("System", "Log Event", file, false));
    EXPECT_TRUE(gen().GetInitSettingBool("System", "Log Event", file, true));
    EXPECT_EQ(gen().GetInitSettingStr("Security", "Password", file, ""), "");

    gen().SetInitSettingBool("System", "Log Event", true, file);
    gen().SetInitSettingBool("System", "Load on Startup", false, file);
    const std::string longValue(3000, 'x');
    gen().SetInitSettingStr("Security", "Password", longValue, file);
    gen().SetInitSettingStr("Security", "Other", "line\r\nPlanted=1", file);

    ASSERT_TRUE(std::filesystem::exists(ini));
    EXPECT_TRUE(gen().GetInitSettingBool("System", "Log Event", file, false));
    EXPECT_FALSE(gen().GetInitSettingBool("System", "Load on Startup", file, true));
    EXPECT_EQ(gen().GetInitSettingStr("Security", "Password", file, ""), longValue);
    // A line break in a value cannot plant another key.
    EXPECT_EQ(gen().GetInitSettingStr("Security", "Planted", file, "none"), "none");

    const std::string text = twtest::ReadFile(ini);
    EXPECT_NE(text.find("Log Event=1"), std::string::npos) << text;
    EXPECT_NE(text.find("Load on Startup=0"), std::string::npos) << text;

    // Flags written by other tools as words.
    const std::pair<const char*, bool> words[] = {{"True", true}, {"FALSE", false}, {"true", true}, {"0", false}};
    for (auto [stored, expected] : words) {
        gen().SetInitSettingStr("System", "Flag", stored, file);
        EXPECT_EQ(gen().GetInitSettingBool("System", "Flag", file, !expected), expected) << stored;
    }
    gen().SetInitSettingStr("System", "Flag", "maybe", file);
    EXPECT_TRUE(gen().GetInitSettingBool("System", "Flag", file, true));
}

TEST_F(GeneralDll, AddLogAppendsTimeStampedLinesAndNeverFails) {
    twtest::TScratchFolder folder("tw-addlog");
    const auto log = folder.Path() / "Tarnowick.log";
    gen().AddLog("Loading settings.", log.string());
    gen().AddLog("Settings loaded.", log.string());
    const std::string text = twtest::ReadFile(log);
    const std::regex lines(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d Loading settings\.\r\n\d{4}-\d\d-\d\d \d\d:\d\d:\d\d Settings loaded\.\r\n)");
    EXPECT_TRUE(std::regex_match(text, lines)) << text;

    gen().AddLog("nowhere", (folder.Path() / "no" / "such" / "folder.log").string());
    gen().AddLog("nowhere", "");
}

// The visible dialog of this process, or nullptr.
HWND FindOwnDialog() {
    struct Search {
        HWND found = nullptr;
    } search;
    EnumWindows(
        [](HWND wnd, LPARAM param) -> BOOL {
            char cls[64] = {};
            DWORD pid = 0;
            GetWindowThreadProcessId(wnd, &pid);
            GetClassNameA(wnd, cls, sizeof cls);
            if (pid != GetCurrentProcessId() || std::string(cls) != "#32770" || !IsWindowVisible(wnd)) return TRUE;
            reinterpret_cast<Search*>(param)->found = wnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct TSeenDialog {
    HWND owner = nullptr;
    std::string caption, text;
    std::vector<std::string> buttons;
    bool hasIcon = false;
};

std::string WindowText(HWND wnd) {
    char text[1024] = {};
    GetWindowTextA(wnd, text, sizeof text);
    return text;
}

// Waits for the dialog, reads it, and presses the button with the given caption.
void AnswerDialog(TSeenDialog& seen, const std::string& press) {
    HWND dlg = nullptr;
    for (int i = 0; i < 500 && dlg == nullptr; ++i) {
        Sleep(20);
        dlg = FindOwnDialog();
    }
    if (dlg == nullptr) return;
    Sleep(50);  // let WM_INITDIALOG finish laying the dialog out
    seen.owner = GetWindow(dlg, GW_OWNER);
    seen.caption = WindowText(dlg);
    HWND target = nullptr;
    for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char cls[64] = {};
        GetClassNameA(child, cls, sizeof cls);
        const std::string name = cls, text = WindowText(child);
        if (name == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            seen.hasIcon = SendMessageA(child, STM_GETICON, 0, 0) != 0;
        } else if (name == "Static") {
            seen.text = text;
        } else if (name == "Button") {
            seen.buttons.push_back(text);
            if (text == press) target = child;
        }
    }
    if (target) PostMessageA(target, BM_CLICK, 0, 0);  // handled on the dialog's own thread
}

struct TDialogCase {
    int kind, buttons;
    const char* press;
    int expected;
    const char* caption;
    std::vector<std::string> captions;
};

TEST_F(GeneralDll, ShowMsgIsARealDialogAnsweredByItsButtons) {
    const std::string message = "Device deleted!\r\rYou must restart Tarnowick for the new setting to be effective.";
    const TDialogCase cases[] = {
        {2, 4, "OK", IDOK, "Information", {"OK"}},
        {3, 9, "&Yes", IDYES, "Confirmation", {"&Yes", "Cancel"}},
        {3, 9, "Cancel", IDCANCEL, "Confirmation", {"&Yes", "Cancel"}},
        {3, 3, "&No", IDNO, "Confirmation", {"&Yes", "&No"}},
        {1, 4, "OK", IDOK, "Error", {"OK"}},
        {0, 4, "OK", IDOK, "Warning", {"OK"}},
    };
    for (const TDialogCase& c : cases) {
        SCOPED_TRACE(std::string(c.caption) + " / " + c.press);
        TSeenDialog seen;
        std::thread presser(AnswerDialog, std::ref(seen), std::string(c.press));
        int answer = gen().ShowMsg(message, c.kind, c.buttons, 0);
        presser.join();
        EXPECT_EQ(answer, c.expected);
        EXPECT_EQ(seen.caption, c.caption);
        EXPECT_EQ(seen.text,
                  "Device deleted!\r\n\r\nYou must restart Tarnowick for the new setting to be effective.");
        EXPECT_EQ(seen.buttons, c.captions);
        EXPECT_TRUE(seen.hasIcon);
    }
}

TEST_F(GeneralDll, ShowMsgIsOwnedByTheCallersActiveWindow) {
    HWND main = CreateWindowExA(0, "STATIC", "Tarnowick", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200, nullptr,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(main, nullptr);
    SetActiveWindow(main);
    ASSERT_EQ(GetActiveWindow(), main);
    TSeenDialog seen;
    std::thread presser(AnswerDialog, std::ref(seen), std::string("OK"));
    EXPECT_EQ(gen().ShowMsg("Settings saved.", tw::mkInformation, tw::mbOKOnly, 0), IDOK);
    presser.join();
    EXPECT_EQ(seen.owner, main);
    DestroyWindow(main);
}

}  // namespace
