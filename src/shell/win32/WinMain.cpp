// Tarnowick.exe: process start-up in its fixed order, the message loop, and the release at the end.
#include <windows.h>
#include <ole2.h>

#include "libs/SiblingLibraries.h"
#include "shell/Main.h"
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
    tw::TMainWindow window(instance);
    tw::TMainHooks hooks;
    tw::TfrmMain form(window, libs.DataAccess(), libs.General(), tw::ExecutableFolder(), std::move(hooks));
    if (!window.Create(form)) return 1;
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
