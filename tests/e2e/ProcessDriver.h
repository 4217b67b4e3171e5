// Drives real Tarnowick processes the way an operator would: starts copies of the installed files,
// finds their windows and message boxes, reads their text and presses their buttons.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tw::e2e {

// Folder of the running test program, where every built binary lands ("...\bin\").
std::wstring BinFolder();
// A fresh folder under the temp folder holding copies of `files` from BinFolder(); returns it with "\".
std::wstring InstallCopy(const std::wstring& name, const std::vector<std::wstring>& files);
// The gateway's files: the exe and its sibling libraries.
std::vector<std::wstring> GatewayFiles();
// Removes a folder made by InstallCopy, with the gateway's files and what the gateway wrote there.
void RemoveCopy(const std::wstring& folder);

// Ends a process the way an operator would, so that it withdraws what it registered with COM (a killed
// server's classes stay registered in Wine, and every later activation fails): "Exit" to a gateway's
// main window, WM_CLOSE to any other program's windows, and every message box that holds the close is
// closed too; then WM_QUIT to its threads. Only a process that ignores all of that is terminated, and
// the answer is false.
bool CloseProcess(DWORD pid);
// Process ids of running programs whose file name is exeName (case-insensitive).
std::vector<DWORD> ProcessIdsOf(const std::wstring& exeName);

class TProcess {
public:
    TProcess() = default;
    ~TProcess();  // closes a process the test left running (see CloseProcess)
    TProcess(TProcess&& o) noexcept;
    TProcess& operator=(TProcess&&) = delete;
    TProcess(const TProcess&) = delete;

    static TProcess Start(const std::wstring& exe, const std::wstring& args = L"");
    DWORD Pid() const { return pid_; }
    bool Running() const;
    // Waits for the end; false on time-out.
    bool WaitExit(DWORD timeoutMs, DWORD* exitCode = nullptr) const;

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

// A visible top-level window of the process with that class (nullptr after the time-out).
HWND WaitForWindow(DWORD pid, const wchar_t* className, DWORD timeoutMs);
// A dialog box (#32770) of the process with a static text that contains `text`.
HWND WaitForDialog(DWORD pid, const std::wstring& text, DWORD timeoutMs);
// A dialog box (#32770) of the process with that caption.
HWND WaitForDialogTitled(DWORD pid, const std::wstring& caption, DWORD timeoutMs);
// Any dialog box of the process currently shown, or nullptr.
HWND AnyDialog(DWORD pid);
std::wstring WindowText(HWND hwnd);
// The texts of the dialog's buttons, without "&".
std::vector<std::wstring> ButtonCaptions(HWND dialog);
// Presses the button whose caption (without "&") is `caption`; false when there is none.
bool PressButton(HWND dialog, const std::wstring& caption);
// All text of the first child of `parent` (at any depth) with that control id.
std::wstring ControlText(HWND parent, int controlId);
// The first child of `parent` (at any depth) with that control id.
HWND Control(HWND parent, int controlId);
// The text of a list view cell in another process (item and sub-item from 0).
std::wstring ListViewCell(HWND listView, int item, int subItem);
// The hints (tooltips) of the process's windows: each tool's control (nullptr for an area tool) and text.
struct THint {
    HWND control;
    std::wstring text;
};
std::vector<THint> Hints(DWORD pid);
// Rests the mouse pointer on the control until a hint of the process shows: its window, or nullptr.
HWND ShowHint(DWORD pid, HWND control, DWORD timeoutMs);
// Clicks a tab of a tab control in another process the way a mouse does (tabs about 60 pixels wide).
void ClickTab(HWND tabs, int index);
inline constexpr int kMonitorTab = 0, kSettingsTab = 1;
// What the screen shows of the window's client area, as a 24-bit BMP file (for a person to look at).
bool SaveScreenshot(HWND hwnd, const std::wstring& path);
// After a moment to paint, saves the window into screenshots\<name> under the current folder (the build tree).
bool TakeScreenshot(HWND hwnd, const std::wstring& name);
// WM_COPYDATA with the bytes as they stand.
bool SendCopyData(HWND target, const std::string& bytes);

}  // namespace tw::e2e
