// Tarnowick.exe: process start-up in its fixed order, the message loop, and the release at the end.
#include <windows.h>
#include <ole2.h>

#include "acquisition/ModBusObjList.h"
#include "config/Configuration.h"
#include "config/win32/RegistryRunKey.h"
#include "config/win32/SettingDialogsView.h"
#include "config/win32/SettingsPageView.h"
#include "libs/SiblingLibraries.h"
#include "shell/Main.h"
#include "tags/DataPoints.h"
#include "tags/TagTable.h"
#include "shell/win32/InstanceGuard.h"
#include "shell/win32/MainWindow.h"
#ifdef TW_HAVE_OPC
#include "opc/registration/ComServer.h"
#endif

namespace {

// The OPC data-stream formats; registered once, never read afterwards.
void RegisterOpcClipboardFormats() {
    RegisterClipboardFormatA("OPCSTMFORMATDATA");
    RegisterClipboardFormatA("OPCSTMFORMATDATATIME");
    RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE");
}

int RunMainWindow(HINSTANCE instance, tw::SiblingLibraries& libs) {
    using namespace tw;
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
    TMainHooks hooks;
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
    TfrmMain form(window, libs.DataAccess(), libs.General(), folder, hooks);

    TConfigurationHooks configHooks;
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

    window.Start(form);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!window.PreTranslate(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    // The loop also ends when the last COM client lets go: the window goes without the close steps.
    window.DestroyIfAlive();
    return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    tw::SiblingLibraries libs;
    libs.LoadOpcData();
    libs.LoadDataAccess();
    libs.LoadGeneral();
    RegisterOpcClipboardFormats();

    OleInitialize(nullptr);
    int rc = 0;
    {
#ifdef TW_HAVE_OPC
        tw::opc::TComServer server(commandLine, libs.General());
#else
        (void)commandLine;
#endif
        libs.LoadSecurity();

        tw::TInstanceGuard guard;
        if (!guard.Acquire(tw::OwnInstanceMutexName())) {
            libs.General().ShowMsg("Velmora Tarnowick is already running!", tw::mkError, tw::mbOKOnly, 0);
            rc = 1;
        } else {
#ifdef TW_HAVE_OPC
            if (server.Initialize()) rc = RunMainWindow(instance, libs);
            server.Shutdown();
#else
            rc = RunMainWindow(instance, libs);
#endif
        }
    }
    OleUninitialize();
    libs.Release();
    return rc;
}
