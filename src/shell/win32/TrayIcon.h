// tniIcon: the notification-area icon with the hint "Velmora Tarnowick", images 0 (stopped) and 1
// (running), and the pop-up menu "Show" (default), "About", "E&xit". Mouse events reach the owner
// window as its callback message, which the owner hands to HandleCallback.
#pragma once

#include <windows.h>

namespace tw {

enum class TTrayCommand { None, Show, About, Exit };

class TTrayIcon {
public:
    // instance: the module holding the tray resources (the exe).
    TTrayIcon(HINSTANCE instance, HWND owner, UINT callbackMessage);
    ~TTrayIcon();
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    // Shows the icon with the given one (the program's own at start), image 0 when none is given.
    bool Add(HICON initial = nullptr);
    void Remove();
    // Shows image 0 (stopped) or 1 (running); adds the icon again should the shell have lost it.
    bool SetImage(int image);
    bool Visible() const { return added_; }
    HICON Icon() const { return current_; }

    // The owner's callback message: a click means Show; a right click opens the menu and gives its choice.
    TTrayCommand HandleCallback(WPARAM wp, LPARAM lp);
    // The shell's "TaskbarCreated" broadcast: the owner calls Restore so the icon survives a shell restart.
    static UINT TaskbarCreatedMessage();
    bool Restore();

    // The pop-up menu, built fresh: the caller destroys it. Its default item is "Show".
    HMENU CreatePopupMenuHandle() const;
    static TTrayCommand CommandOf(UINT menuId);

private:
    bool Notify(DWORD action);
    TTrayCommand TrackMenu();

    HINSTANCE instance_;
    HWND owner_;
    UINT callbackMessage_;
    HICON images_[2] = {nullptr, nullptr};
    HICON current_ = nullptr;
    bool added_ = false;
};

}  // namespace tw
