// IRunView on Win32 controls: the Start and Stop buttons, the "Start Polling" check box, the tray
// icon and the about box. The main window attaches its controls once they exist.
#pragma once

#include <windows.h>

#include "shell/RunController.h"
#include "shell/win32/TrayIcon.h"

namespace tw {

struct TRunControls {
    HWND Start = nullptr;         // bbnStart
    HWND Stop = nullptr;          // bbnStop
    HWND StartPolling = nullptr;  // cbxStartPolling
};

class TRunView : public IRunView {
public:
    // instance: the module holding the resources (the exe); owner: the main window.
    TRunView(HINSTANCE instance, HWND owner, TTrayIcon& tray, TRunControls controls = {})
        : instance_(instance), owner_(owner), tray_(tray), controls_(controls) {}
    void Attach(HWND owner, TRunControls controls) {
        owner_ = owner;
        controls_ = controls;
    }

    void SetStartEnabled(bool enabled) override { Enable(controls_.Start, enabled); }
    void SetStopEnabled(bool enabled) override { Enable(controls_.Stop, enabled); }
    void SetTrayImage(int image) override { tray_.SetImage(image); }
    bool StartPollingChecked() const override;
    // BM_SETCHECK sends no click: the controller runs its handler itself.
    void SetStartPollingChecked(bool checked) override;
    void ShowAboutBox() override;

private:
    static void Enable(HWND control, bool enabled) {
        if (control) EnableWindow(control, enabled ? TRUE : FALSE);
    }

    HINSTANCE instance_;
    HWND owner_;
    TTrayIcon& tray_;
    TRunControls controls_;
};

}  // namespace tw
