#include "shell/win32/TrayIcon.h"

#include <shellapi.h>

#include <cwchar>

#include "run_resource.h"
#include "shell/win32/IconResource.h"

namespace tw {

namespace {
constexpr UINT kTrayId = 1;
constexpr wchar_t kHint[] = L"Velmora Tarnowick";
}  // namespace

TTrayIcon::TTrayIcon(HINSTANCE instance, HWND owner, UINT callbackMessage)
    : instance_(instance), owner_(owner), callbackMessage_(callbackMessage) {
    const int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
    const int ids[2] = {IDI_TRAY_STOPPED, IDI_TRAY_RUNNING};
    for (int i = 0; i < 2; ++i)
        images_[i] = LoadIcoResource(instance, ids[i], cx, cy);
}

TTrayIcon::~TTrayIcon() {
    Remove();
    for (HICON icon : images_)
        if (icon) DestroyIcon(icon);
}

bool TTrayIcon::Notify(DWORD action) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = owner_;
    data.uID = kTrayId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = callbackMessage_;
    data.hIcon = current_;
    wcsncpy(data.szTip, kHint, sizeof data.szTip / sizeof data.szTip[0] - 1);
    return Shell_NotifyIconW(action, &data) != FALSE;
}

bool TTrayIcon::Add(HICON initial) {
    current_ = initial ? initial : images_[0];
    if (added_) return Notify(NIM_MODIFY);
    added_ = Notify(NIM_ADD);
    return added_;
}

void TTrayIcon::Remove() {
    if (added_) Notify(NIM_DELETE);
    added_ = false;
}

bool TTrayIcon::SetImage(int image) {
    if (image < 0 || image > 1) return false;
    current_ = images_[image];
    if (added_ && Notify(NIM_MODIFY)) return true;
    added_ = Notify(NIM_ADD);
    return added_;
}

bool TTrayIcon::Restore() { return added_ && Notify(NIM_ADD); }

UINT TTrayIcon::TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

HMENU TTrayIcon::CreatePopupMenuHandle() const {
    HMENU bar = LoadMenuW(instance_, MAKEINTRESOURCEW(IDM_TRAY));
    if (!bar) return nullptr;
    HMENU popup = GetSubMenu(bar, 0);
    RemoveMenu(bar, 0, MF_BYPOSITION);  // the pop-up outlives its bar
    DestroyMenu(bar);
    SetMenuDefaultItem(popup, IDM_TRAY_SHOW, FALSE);
    return popup;
}

TTrayCommand TTrayIcon::CommandOf(UINT menuId) {
    switch (menuId) {
    case IDM_TRAY_SHOW: return TTrayCommand::Show;
    case IDM_TRAY_ABOUT: return TTrayCommand::About;
    case IDM_TRAY_EXIT: return TTrayCommand::Exit;
    default: return TTrayCommand::None;
    }
}

TTrayCommand TTrayIcon::TrackMenu() {
    HMENU menu = CreatePopupMenuHandle();
    if (!menu) return TTrayCommand::None;
    POINT at;
    GetCursorPos(&at);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(owner_);
    const UINT chosen = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, 0, owner_, nullptr));
    PostMessageW(owner_, WM_NULL, 0, 0);
    DestroyMenu(menu);
    return CommandOf(chosen);
}

TTrayCommand TTrayIcon::HandleCallback(WPARAM wp, LPARAM lp) {
    if (wp != kTrayId) return TTrayCommand::None;
    switch (static_cast<UINT>(lp)) {
    case WM_LBUTTONUP: return TTrayCommand::Show;
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU: return TrackMenu();
    default: return TTrayCommand::None;
    }
}

}  // namespace tw
