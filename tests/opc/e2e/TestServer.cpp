// Stand-in for Tarnowick.exe in the end-to-end tests: the COM server layer, the pulse timer and a
// message loop, without the main window. Messages are appended to <exe>.messages.txt.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>

#include "libs/General.h"
#include "../FakeGeneral.h"
#include "opc/ValueConvert.h"
#include "opc/registration/ComServer.h"
#include "opc/server/ServerSlots.h"

namespace {

class TFileGeneral : public tw::opc::test::TStubGeneral {
public:
    int ShowMsg(const std::string& text, int kind, int buttons, int) override {
        wchar_t exe[MAX_PATH];
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        FILE* f = _wfopen((std::wstring(exe) + L".messages.txt").c_str(), L"a");
        if (f) {
            std::fprintf(f, "%d %d %s\n", kind, buttons, text.c_str());
            std::fclose(f);
        }
        return 1;
    }
};

void CALLBACK PulseTimer(HWND, UINT, UINT_PTR, DWORD) { tw::opc::PulseServers(tw::opc::NowLocalDateTime()); }

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    if (FAILED(OleInitialize(nullptr))) return 1;
    TFileGeneral general;
    int exitCode = 0;
    {
        tw::opc::TComServer server(commandLine, general);
        if (server.Initialize()) {
            const UINT_PTR timer = SetTimer(nullptr, 0, 10, PulseTimer);
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            KillTimer(nullptr, timer);
        }
        server.Shutdown();
    }
    OleUninitialize();
    return exitCode;
}
