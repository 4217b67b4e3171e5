// The main window put together: its views, the configuration, the run controller, the tray and the
// OPC pulse, wired to one another; then the message loop.
#include "shell/win32/Application.h"

#include "acquisition/ModBusObjList.h"
#include "acquisition/win32/SimulateDialog.h"
#include "config/Configuration.h"
#include "config/win32/RegistryRunKey.h"
#include "config/win32/SettingDialogsView.h"
#include "config/win32/SettingsPageView.h"
#include "resource.h"
#include "shell/Main.h"
#include "shell/RunController.h"
#include "shell/win32/InstanceGuard.h"
#include "shell/win32/MainWindow.h"
#include "shell/win32/PasswordDialog.h"
#include "shell/win32/RunView.h"
#include "shell/win32/TrayIcon.h"
#include "libs/General.h"
#include "tags/DeviceStatusTags.h"
#include "tags/TagTable.h"
#include "values/DataPoints.h"
#ifdef TW_HAVE_OPC
#include "opc/ValueConvert.h"
#include "opc/server/ServerConsoleView.h"
#include "opc/server/ServerSlots.h"
#include "opc/server/ShutDownRequest.h"
#endif

namespace tw {

int RunMainWindow(HINSTANCE instance, SiblingLibraries& libs, bool startPolling) {
    TMainWindow window(instance);
    if (!window.CreateWindows()) return 1;
    TSettingsPageView settingsView(window.Page(tstSettings),
                                   [&window] { return window.ActivePage() == tstSettings; });
    TSettingDialogsView dialogs([&window] { return window.Handle(); });
    TRegistryRunKey runKey;
    const std::string folder = ExecutableFolder();

    // The configuration needs the main window's connection and log; the main window's creation needs the
    // configuration's load: the hooks reach it through this pointer, set before the window starts.
    TConfiguration* config = nullptr;
    TRunController* runner = nullptr;
    TMainHooks hooks;
    hooks.StartScanning = [&runner] { runner->bbnStartClick(); };
    hooks.StopScanning = [&runner] { runner->bbnStopClick(); };
    hooks.CreateDeviceList = [] { DeviceList.Clear(); };
    hooks.LoadSettings = [&config](bool afterSave) { config->LoadSettings(afterSave); };
    hooks.SetGridTitles = [&config] { config->Page().SetGridTitles(); };
    hooks.BuildTagTable = [&config] { config->BuildTagTable(); };
    hooks.HasDevices = [] { return DeviceList.Count() > 0; };
    hooks.FreeDataPoints = [] { FreeDataPoints(); };
    hooks.FreeDeviceList = [] { DeviceList.Clear(); };  // each device stops its poll thread as it goes
    hooks.ReleaseTagArrays = [] {
        TagDevice.clear();
        TagRegister.clear();
    };
#ifdef TW_HAVE_OPC
    hooks.RequestClientShutdown = [] { opc::RequestShutdownOfEveryClient(); };
    hooks.CountConnectedClients = [] { return opc::CountConnectedClients(); };
#endif
    TfrmMain form(window, libs.DataAccess(), libs.General(), folder, hooks);

    TConfigurationHooks configHooks;
    configHooks.Start = [&runner] { runner->bbnStartClick(); };
    configHooks.Stop = [&runner] { runner->bbnStopClick(); };
    configHooks.WriteLog = [&form](const std::string& text) { form.WriteLog(text); };
    configHooks.SetCaption = [&window](const std::string& caption) { window.SetCaption(caption); };
    configHooks.HideMainWindow = [&window] { window.HideMainWindow(); };
    configHooks.SetLogToFile = [&form](bool on) { form.Log().SetLogToFile(on); };
    configHooks.SetHideOnStartup = [&form](bool on) { form.HideOnStartup = on; };
    TConfiguration configuration({libs.DataAccess(), [&form] { return form.Connection(); }, libs.General(),
                                  libs.Security(), runKey, settingsView, settingsView, dialogs, DeviceList, folder,
                                  form.SelectedGridRow},
                                 configHooks);
    config = &configuration;
    settingsView.Attach(configuration);
    window.SetPageHandler(tstSettings, [&settingsView](UINT msg, WPARAM wp, LPARAM lp) {
        return settingsView.OnPageMessage(msg, wp, lp);
    });

    constexpr UINT kTrayMessage = WM_APP + 1;
    TTrayIcon tray(instance, window.Handle(), kTrayMessage);
    tray.Add();
    TRunView runView(instance, window.Handle(), tray,
                     {GetDlgItem(window.Page(tstMonitor), IDC_BBNSTART), GetDlgItem(window.Page(tstMonitor), IDC_BBNSTOP),
                      GetDlgItem(window.Page(tstSettings), IDC_CBXSTARTPOLLING)});
    TPasswordDlg password(instance, window.Handle());
    TSimulateDialog simulate(instance, window.Handle());
    TRunHooks runHooks;
    runHooks.RefreshTagValues = [&configuration] { configuration.Page().RefreshTagValues(); };
    runHooks.RefreshDeviceStatus = [] { RefreshDeviceStatusTags(DeviceList); };
    runHooks.ProtectSettings = [&configuration] { return configuration.Settings().ProtectSettings(); };
    runHooks.PasswordMatches = [&configuration](const std::string& typed) {
        return configuration.Settings().PasswordMatches(typed);
    };
#ifdef TW_HAVE_OPC
    runHooks.PulseServers = [] { opc::PulseServers(opc::NowLocalDateTime()); };
    runHooks.ShowServerConsole = [&window, &libs] { opc::ShowServerConsole(window.Handle(), libs.General()); };
#endif
    TRunController run(window, runView, password, libs.General(), form.Log(), DeviceList, runHooks);
    runner = &run;
#ifdef TW_HAVE_OPC
    // A client that no longer answers is cut off by the OPC side; the event log says so.
    opc::SetClientLogListener([&form](const std::string& text) { form.WriteLog(text); });
#endif
    window.SetPageHandler(tstMonitor, [&run](UINT msg, WPARAM wp, LPARAM) {
        if (msg != WM_COMMAND || HIWORD(wp) != BN_CLICKED) return false;
        switch (LOWORD(wp)) {
        case IDC_BBNHIDE: run.bbnHideClick(); return true;
        case IDC_BBNABOUT: run.bbnAboutClick(); return true;
        default: return false;
        }
    });
    settingsView.OnStartPolling = [&run](bool) { run.cbxStartPollingClick(); };
    settingsView.OnLocalOpcConsole = [&run] { run.bbnLocalOPCConsoleClick(); };
    settingsView.OnSimulate = [&configuration, &simulate, &libs] {
        const TSettingsPage& page = configuration.Page();
        TSimulateSelection selection;
        const int row = page.SelectedRow();
        const auto& grid = page.Grid();
        if (row >= 1 && row < static_cast<int>(grid.size()) && !grid[static_cast<std::size_t>(row)][colNo].empty()) {
            selection.Row = row;
            selection.TagName = grid[static_cast<std::size_t>(row)][colTagName];
            selection.TagValue = grid[static_cast<std::size_t>(row)][colTagValue];
        }
        selection.Device = page.DisplayedDevice();
        if (selection.Device) {
            selection.Tag = DeviceTagByName(*selection.Device, page.DisplayedDeviceIndex(), selection.TagName);
            if (selection.Tag >= 0) selection.Register = TagRegister[static_cast<std::size_t>(selection.Tag)];
        }
        selection.ShowTagValue = [&configuration](int tag, const std::string& value) {
            configuration.Page().ShowTagValue(tag, value);
        };
        selection.Warn = [&libs](const std::string& text) { libs.General().ShowMsg(text, mkWarning, mbOKOnly, 0); };
        SimulatePortClick(selection, simulate);
    };
    window.OnTimer = [&run](int timer) { return run.TimerTick(timer); };
    window.OnPageChange = [&run](int page) { run.pclMainChange(page); };
    window.OnOtherMessage = [&](UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == kTrayMessage) {
            switch (tray.HandleCallback(wp, lp)) {
            case TTrayCommand::Show: run.tniIconClick(); break;
            case TTrayCommand::About: run.About1Click(); break;
            case TTrayCommand::Exit: run.E1Click(); break;
            default: break;
            }
            return true;
        }
        if (msg == TTrayIcon::TaskbarCreatedMessage()) return tray.Restore();
        return false;
    };
    window.Start(form);
    if (startPolling) {
        runView.SetStartPollingChecked(true);
        run.cbxStartPollingClick();
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!window.PreTranslate(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    // The loop also ends when the last COM client lets go: the window goes without the close steps.
#ifdef TW_HAVE_OPC
    opc::SetClientLogListener(nullptr);
#endif
    window.DestroyIfAlive();
    return static_cast<int>(msg.wParam);
}

}  // namespace tw
