// Tarnowick.exe: process start-up in its fixed order, the message loop, and the release at the end.
#include <windows.h>
#include <ole2.h>

#include "libs/General.h"
#include "libs/SiblingLibraries.h"
#include "shell/win32/Application.h"
#include "shell/win32/InstanceGuard.h"
#ifdef TW_HAVE_OPC
#include "opc/registration/ComServer.h"
#include "opc/server/ServerSlots.h"
#endif

namespace {

// The OPC data-stream formats; registered once, never read afterwards.
void RegisterOpcClipboardFormats() {
    RegisterClipboardFormatA("OPCSTMFORMATDATA");
    RegisterClipboardFormatA("OPCSTMFORMATDATATIME");
    RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE");
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
        const bool startPolling = tw::opc::HasSwitch(commandLine, tw::kStartPollingSwitch);
#else
        (void)commandLine;
        const bool startPolling = false;
#endif
        libs.LoadSecurity();

        tw::TInstanceGuard guard;
        if (!guard.Acquire(tw::OwnInstanceMutexName())) {
#ifdef TW_HAVE_OPC
            // A silent register mode (an installer's) must not wait on a box that nobody sees.
            if (!server.Silent())
#endif
                libs.General().ShowMsg("Velmora Tarnowick is already running!", tw::mkError, tw::mbOKOnly, 0);
            rc = 1;
        } else {
#ifdef TW_HAVE_OPC
            rc = server.Initialize() ? tw::RunMainWindow(instance, libs, startPolling) : server.ExitCode();
            server.Shutdown();
#else
            rc = tw::RunMainWindow(instance, libs);
#endif
        }
    }
#ifdef TW_HAVE_OPC
    // A hung client's sinks are never released: ending the apartment would wait for the client.
    const bool endApartment = tw::opc::MainApartmentMayEnd();
#else
    const bool endApartment = true;
#endif
    if (endApartment) OleUninitialize();
    libs.Release();
    return rc;
}
