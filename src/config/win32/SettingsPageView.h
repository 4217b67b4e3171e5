// The Settings page's Win32 view: the System Settings group, the device list and details, the register
// grid (a report-style list view) and its pop-up menu. Control events go to the configuration logic.
#pragma once

#include <windows.h>

#include <functional>

#include "config/Settings.h"
#include "config/SettingsPage.h"

namespace tw {

class TConfiguration;

class TSettingsPageView : public ISystemSettingsView, public ISettingsPageView {
public:
    // page: the page dialog; pageActive tells whether the Settings page is the one shown.
    TSettingsPageView(HWND page, std::function<bool()> pageActive);

    void Attach(TConfiguration& config) { config_ = &config; }
    // Handlers that belong to the run controller and the OPC console.
    std::function<void()> OnSimulate;
    std::function<void(bool)> OnStartPolling;
    std::function<void()> OnLocalOpcConsole;

    // WM_COMMAND / WM_NOTIFY of the page; true when handled.
    bool OnPageMessage(UINT msg, WPARAM wp, LPARAM lp);
    bool StartPollingChecked() const;
    void SetStartPolling(bool checked);

    // ISystemSettingsView
    bool Checked(TSettingsBox box) const override;
    void SetChecked(TSettingsBox box, bool checked) override;
    std::string Text(TPasswordEdit edit) const override;
    void SetText(TPasswordEdit edit, const std::string& text) override;
    void SetPasswordControlsEnabled(bool enabled) override;
    void FocusPassword() override;

    // ISettingsPageView
    void SetDeviceItems(const std::vector<std::string>& items) override;
    void SetDeviceDetails(const TDeviceDetails& details) override;
    void SetGridRows(const std::vector<TGridRow>& rows, int selectedRow) override;
    void SetGridCell(int row, int column, const std::string& text) override;
    bool SettingsPageActive() const override { return pageActive_ && pageActive_(); }

private:
    void OnCommand(int id, int code);
    void OnGridNotify(const NMHDR* hdr);
    void SetItemText(int item, int column, const std::string& text);

    HWND page_;
    HWND grid_;
    std::function<bool()> pageActive_;
    TConfiguration* config_ = nullptr;
    bool filling_ = false;  // selection changes made while refilling are not the operator's
};

}  // namespace tw
