// The main window's Win32 view: a tab control with the Monitor and Settings pages (resource dialogs),
// window timers, WM_COPYDATA. Everything it decides is asked of TfrmMain.
#pragma once

#include <windows.h>

#include <functional>
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

    // Creates the window (hidden) and its pages, so their views can be built before the logic runs.
    bool CreateWindows();
    // Runs FormCreate, shows the window and runs FormShow.
    void Start(TfrmMain& logic);
    HWND Handle() const { return hwnd_; }
    HWND Page(int page) const { return pages_[page]; }
    int ActivePage() const;
    void SetCaption(const std::string& caption);
    // WM_COMMAND and WM_NOTIFY of a page that the main window does not handle itself.
    void SetPageHandler(int page, std::function<bool(UINT, WPARAM, LPARAM)> handler) {
        pageHandlers_[page] = std::move(handler);
    }
    // Window timers that belong to other logic than the main window's.
    std::function<bool(int timer)> OnTimer;
    std::function<void(int page)> OnPageChange;
    std::function<bool(UINT, WPARAM, LPARAM)> OnOtherMessage;
    // Keyboard navigation inside the pages; true when the message was handled.
    bool PreTranslate(MSG& msg);
    // After the message loop ended without a close (the last COM client let go).
    void DestroyIfAlive();

    // IMainView
    int LineCount() const override { return lines_; }
    void ClearLines() override;
    void AppendLine(const std::string& line) override;
    void BeginUpdate() override { ++updating_; }
    void EndUpdate() override;
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
    bool OnCommand(int id);  // the Monitor page's own buttons
    void Layout();
    void ShowPage(int page);
    // The buttons' hints (tooltips).
    void AddHints();

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    HWND tabs_ = nullptr;
    HWND pages_[2] = {nullptr, nullptr};
    std::function<bool(UINT, WPARAM, LPARAM)> pageHandlers_[2];
    HWND memo_ = nullptr;
    TfrmMain* logic_ = nullptr;
    std::set<int> timers_;
    int lines_ = 0;
    int updating_ = 0;     // BeginUpdate calls not ended yet
    std::string pending_;  // lines appended meanwhile, each with its line break
    void Append(const std::string& text);
};

}  // namespace tw
