// TfrmSimulate's window, "Simulate String Received": "OPC Tag:" with the tag name in bold, the
// "Value:" field with the whole-number filter, "Set" (default) and "Cancel", centred on the owner.
#pragma once

#include <windows.h>

#include "acquisition/SimulateOPC.h"

namespace tw {

class TSimulateDialog : public ISimulateDialog {
public:
    // instance: the module holding the dialog resource (the exe); owner: the main window.
    TSimulateDialog(HINSTANCE instance, HWND owner) : instance_(instance), owner_(owner) {}
    bool Execute(TfrmSimulate& form) override;

private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK ValueProc(HWND edit, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data);
    void Init(HWND dialog);

    HINSTANCE instance_;
    HWND owner_;
    TfrmSimulate* form_ = nullptr;
    HFONT bold_ = nullptr;
};

}  // namespace tw
