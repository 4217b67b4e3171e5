// The main window's Win32 view: a tab control with the Monitor and Settings pages (resource dialogs),
// window timers, WM_COPYDATA. Everything it decides is asked of TfrmMain.
#pragma once

#include <windows.h>

#include <set>
#include <string>

#include "shell/Main.h"

namespace tw {

inline constexpr wchar_t kMainWindowClass[] = L"TfrmMain";

class TMainWindow : public IMainView {
public:
    explicit TMainWindow(HINSTANCE instance);
    ~TMainWindow() override;
    TMainWindow(const TMainWindow&) = delete;
    TMainWindow& operator=(const TMainWindow&) = delete;

    // Creates the window hidden, runs FormCreate, shows it and runs FormShow.
    bool Create(TfrmMain& logic);
    HWND Handle() const { return hwnd_; }
    // Keyboard navigation inside the pages; true when the message was handled.
    bool PreTranslate(MSG& msg);
    // After the message loop ended without a close (the last COM client let go).
    void DestroyIfAlive();

    // IMainView
    int LineCount() const override { return lines_; }
    void ClearLines() override;
    void AppendLine(const std::string& line) override;
    void SetActivePage(int page) override;
    void EnableTimer(int timer, unsigned intervalMs) override;
    void DisableTimer(int timer) override;
    bool TimerEnabled(int timer) const override { return timers_.count(timer) != 0; }
    void ShowMainWindow() override;
    void HideMainWindow() override;
    void CloseMainWindow() override;
    std::uintptr_t AppHandle() const override { return reinterpret_cast<std::uintptr_t>(hwnd_); }
    void SleepMs(unsigned ms) override { Sleep(ms); }
    void ProcessMessages() override;

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
    void OnCommand(int id);
    void Layout();
    void ShowPage(int page);

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    HWND tabs_ = nullptr;
    HWND pages_[2] = {nullptr, nullptr};
    HWND memo_ = nullptr;
    TfrmMain* logic_ = nullptr;
    std::set<int> timers_;
    int lines_ = 0;
};

}  // namespace tw
