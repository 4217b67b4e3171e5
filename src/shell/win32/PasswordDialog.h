// TPasswordDlg, "Enter Password": one masked edit, OK and Cancel; the Settings page's gate asks it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "shell/RunController.h"

namespace tw {

class TPasswordDlg : public IPasswordDialog {
public:
    // instance: the module holding the dialog resource (the exe); owner: the main window.
    TPasswordDlg(HINSTANCE instance, HWND owner) : instance_(instance), owner_(owner) {}
    // Modal. The typed text (in the ANSI code page, as the settings file holds it) after OK.
    std::optional<std::string> Execute() override;

private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp);

    HINSTANCE instance_;
    HWND owner_;
    std::string typed_;
};

}  // namespace tw
