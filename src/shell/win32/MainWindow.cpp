#include "shell/win32/MainWindow.h"

#include <commctrl.h>

#include "resource.h"

namespace tw {

namespace {

// What an operator reads when resting the mouse on a button of the pages.
struct THint {
    int page;
    int control;
    const wchar_t* text;
};
constexpr THint kHints[] = {
    {tstMonitor, IDC_BBNSTART, L"Start Scanning"},
    {tstMonitor, IDC_BBNSTOP, L"Stop Scanning"},
    {tstSettings, IDC_BBNSAVE, L"Save all"},
    {tstSettings, IDC_BBNNEW, L"New port"},
};

}  // namespace

TMainWindow::TMainWindow(HINSTANCE instance) : instance_(instance) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kMainWindowClass;
    RegisterClassExW(&wc);
}

TMainWindow::~TMainWindow() { DestroyIfAlive(); }

bool TMainWindow::CreateWindows() {
    hwnd_ = CreateWindowExW(0, kMainWindowClass, L"Velmora Tarnowick", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                            CW_USEDEFAULT, 800, 580, nullptr, nullptr, instance_, this);
    if (!hwnd_) return false;
    tabs_ = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 0, 0, hwnd_,
                            reinterpret_cast<HMENU>(IDC_PAGES), instance_, nullptr);
    SendMessageW(tabs_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    const wchar_t* titles[] = {L"Monitor", L"Settings"};
    const int dialogs[] = {IDD_MONITOR, IDD_SETTINGS};
    for (int i = 0; i < 2; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(titles[i]);
        SendMessageW(tabs_, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
        pages_[i] = CreateDialogParamW(instance_, MAKEINTRESOURCEW(dialogs[i]), hwnd_, PageProc,
                                       reinterpret_cast<LPARAM>(this));
    }
    AddHints();
    memo_ = GetDlgItem(pages_[tstMonitor], IDC_MMOLOG);
    // A multi-line edit holds 32K characters by default: far less than 1000 log lines.
    SendMessageW(memo_, EM_SETLIMITTEXT, 0, 0);
    Layout();
    return true;
}

void TMainWindow::AddHints() {
    // One hint control for the window, which it destroys with itself. Hints show also while another
    // window is active.
    HWND hints = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance_,
                                 nullptr);
    if (!hints) return;  // the window works without them
    for (const THint& hint : kHints) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;  // the control's own mouse moves show the hint
        tool.hwnd = pages_[hint.page];
        tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(pages_[hint.page], hint.control));
        tool.lpszText = const_cast<wchar_t*>(hint.text);
        SendMessageW(hints, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void TMainWindow::Start(TfrmMain& logic) {
    logic_ = &logic;
    logic.FormCreate();
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    logic.FormShow();
}

int TMainWindow::ActivePage() const { return static_cast<int>(SendMessageW(tabs_, TCM_GETCURSEL, 0, 0)); }

void TMainWindow::SetCaption(const std::string& caption) { SetWindowTextA(hwnd_, caption.c_str()); }

bool TMainWindow::PreTranslate(MSG& msg) {
    for (HWND page : pages_)
        if (page && IsWindowVisible(page) && IsDialogMessageW(page, &msg)) return true;
    return false;
}

void TMainWindow::DestroyIfAlive() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

void TMainWindow::ClearLines() {
    SetWindowTextA(memo_, "");
    pending_.clear();
    lines_ = 0;
}

void TMainWindow::AppendLine(const std::string& line) {
    std::string text = lines_ ? "\r\n" + line : line;
    ++lines_;
    if (updating_ > 0)
        pending_ += text;
    else
        Append(text);
}

void TMainWindow::EndUpdate() {
    if (updating_ > 0 && --updating_ == 0 && !pending_.empty()) {
        Append(pending_);
        pending_.clear();
    }
}

// One replacement however many lines: under Wine each costs the edit control about as much as a
// whole screen of text.
void TMainWindow::Append(const std::string& text) {
    int end = GetWindowTextLengthW(memo_);
    SendMessageA(memo_, EM_SETSEL, end, end);
    SendMessageA(memo_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void TMainWindow::SetActivePage(int page) {
    SendMessageW(tabs_, TCM_SETCURSEL, page, 0);
    ShowPage(page);
}

void TMainWindow::EnableTimer(int timer, unsigned intervalMs) {
    if (SetTimer(hwnd_, timer, intervalMs, nullptr)) timers_.insert(timer);
}

void TMainWindow::DisableTimer(int timer) {
    KillTimer(hwnd_, timer);
    timers_.erase(timer);
}

void TMainWindow::ShowMainWindow() {
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
}

void TMainWindow::HideMainWindow() { ShowWindow(hwnd_, SW_HIDE); }

void TMainWindow::CloseMainWindow() {
    // Posted, so a sender of WM_COPYDATA is not held while the close waits for clients.
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void TMainWindow::ProcessMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the main loop
            return;
        }
        if (!PreTranslate(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

LRESULT CALLBACK TMainWindow::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<TMainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<TMainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self ? self->OnMessage(msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
}

INT_PTR CALLBACK TMainWindow::PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, lp);
        return TRUE;
    }
    auto* self = reinterpret_cast<TMainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || (msg != WM_COMMAND && msg != WM_NOTIFY)) return FALSE;
    if (hwnd == self->pages_[tstMonitor] && msg == WM_COMMAND && HIWORD(wp) == BN_CLICKED &&
        self->OnCommand(LOWORD(wp)))
        return TRUE;
    for (int i = 0; i < 2; ++i)
        if (hwnd == self->pages_[i] && self->pageHandlers_[i] && self->pageHandlers_[i](msg, wp, lp)) return TRUE;
    return FALSE;
}

LRESULT TMainWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_SIZE:
        Layout();
        return 0;
    case WM_NOTIFY: {
        auto* hdr = reinterpret_cast<NMHDR*>(lp);
        if (hdr->hwndFrom == tabs_ && hdr->code == TCN_SELCHANGE) {
            const int page = static_cast<int>(SendMessageW(tabs_, TCM_GETCURSEL, 0, 0));
            ShowPage(page);
            if (OnPageChange) OnPageChange(page);
        }
        return 0;
    }
    case WM_TIMER:
        if (OnTimer && OnTimer(static_cast<int>(wp))) return 0;
        if (logic_) logic_->TimerTick(static_cast<int>(wp));
        return 0;
    case WM_COPYDATA: {
        auto* cds = reinterpret_cast<COPYDATASTRUCT*>(lp);
        if (logic_ && cds) logic_->CopyData(cds->lpData, cds->cbData);
        return TRUE;
    }
    case WM_CLOSE:
        if (!logic_ || logic_->FormClose()) DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        for (int t : timers_) KillTimer(hwnd_, t);
        timers_.clear();
        if (logic_) logic_->FormDestroy();
        logic_ = nullptr;
        PostQuitMessage(0);
        return 0;
    default:
        if (OnOtherMessage && OnOtherMessage(msg, wp, lp)) return 0;
        return DefWindowProcW(hwnd_, msg, wp, lp);
    }
}

bool TMainWindow::OnCommand(int id) {
    if (!logic_) return false;
    switch (id) {
    case IDC_BBCLOSE: logic_->bbCloseClick(); return true;
    case IDC_BITBTN2: logic_->BitBtn2Click(); return true;
    case IDC_BBNSTART: logic_->bbnStartClick(); return true;
    case IDC_BBNSTOP: logic_->bbnStopClick(); return true;
    default: return false;
    }
}

void TMainWindow::Layout() {
    if (!tabs_) return;
    RECT rc;
    GetClientRect(hwnd_, &rc);
    MoveWindow(tabs_, 4, 4, rc.right - 8, rc.bottom - 8, TRUE);
    RECT page{4, 4, rc.right - 4, rc.bottom - 4};
    SendMessageW(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&page));
    for (HWND p : pages_)
        if (p) SetWindowPos(p, HWND_TOP, page.left, page.top, page.right - page.left, page.bottom - page.top, 0);
    // The log fills the Monitor page above its button row.
    if (memo_) {
        RECT b{0, 0, 6, 30};
        MapDialogRect(pages_[tstMonitor], &b);
        int w = page.right - page.left, h = page.bottom - page.top;
        MoveWindow(memo_, b.right, b.right, w - 2 * b.right, h - b.bottom - b.right, TRUE);
        const int buttons[] = {IDC_BBNSTART, IDC_BBNSTOP, IDC_BITBTN2};
        const int rightButtons[] = {IDC_BBCLOSE, IDC_BBNABOUT, IDC_BBNHIDE};
        RECT size{0, 0, 60, 16};
        MapDialogRect(pages_[tstMonitor], &size);
        int x = b.right, y = h - b.bottom + (b.bottom - size.bottom) / 2;
        for (int id : buttons) {
            MoveWindow(GetDlgItem(pages_[tstMonitor], id), x, y, size.right, size.bottom, TRUE);
            x += size.right + b.right;
        }
        x = w;
        for (int id : rightButtons) {
            x -= b.right + size.right;
            MoveWindow(GetDlgItem(pages_[tstMonitor], id), x, y, size.right, size.bottom, TRUE);
        }
    }
}

void TMainWindow::ShowPage(int page) {
    for (int i = 0; i < 2; ++i)
        if (pages_[i]) ShowWindow(pages_[i], i == page ? SW_SHOW : SW_HIDE);
}

}  // namespace tw
