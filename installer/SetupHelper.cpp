// tw-setup-helper.exe: what installing Tarnowick needs beyond files and the exe's own /RegServer. It is
// not shipped: the installer and its uninstaller carry it and run it from their temporary folder;
// scripts/run uses it to know when the demo gateway serves and to close it.
//   tw-setup-helper register-opc          the server console's "Register" but for the proxy/stubs (which
//                                         /RegServer registers): the OPC ProgID with its marker keys and
//                                         DA2 in the OPC DA 2.0 category
//   tw-setup-helper unregister-opc        the console's "Unregister", then the category itself once no
//                                         server is left in it
//   tw-setup-helper close EXE [SECONDS]   closes every gateway started from EXE as the "Exit" message does
//                                         and waits for its end (30 s by default), then ends it by force
//                                         (exit code 1)
//   tw-setup-helper wait EXE [SECONDS]    waits until a gateway started from EXE has its main window (it
//                                         then serves OPC clients), 60 s at most
// Exit codes: 0 done, 1 failed or timed out, 2 usage.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "opc/Guids.h"
#include "opc/registration/ComCat.h"
#include "opc/registration/RegDeRegServer.h"
#include "opc/registration/Registry.h"
#include "shell/Main.h"
#include "shell/win32/MainWindow.h"

namespace {

// Long form, so a short (8.3) path, as COM starts a server from one, names the same file.
std::wstring LongPath(const std::wstring& path) {
    wchar_t full[MAX_PATH], longer[MAX_PATH];
    if (!GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr)) return path;
    const DWORD n = GetLongPathNameW(full, longer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? longer : full;
}

std::wstring ProcessImage(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return L"";
    wchar_t image[MAX_PATH];
    DWORD size = MAX_PATH;
    const bool ok = QueryFullProcessImageNameW(process, 0, image, &size) != 0;
    CloseHandle(process);
    return ok ? LongPath(image) : L"";
}

struct TGateways {
    std::wstring exe;
    std::vector<std::pair<HWND, DWORD>> found;  // main window and process of each
};

BOOL CALLBACK CollectGateway(HWND hwnd, LPARAM param) {
    auto& gateways = *reinterpret_cast<TGateways*>(param);
    wchar_t className[64];
    if (!GetClassNameW(hwnd, className, 64) || std::wcscmp(className, tw::kMainWindowClass) != 0) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid && CompareStringOrdinal(ProcessImage(pid).c_str(), -1, gateways.exe.c_str(), -1, TRUE) == CSTR_EQUAL)
        gateways.found.emplace_back(hwnd, pid);
    return TRUE;
}

TGateways FindGateways(const std::wstring& exe) {
    TGateways gateways{LongPath(exe), {}};
    EnumWindows(CollectGateway, reinterpret_cast<LPARAM>(&gateways));
    return gateways;
}

// The class objects are announced before the main window is created.
int WaitForGateway(const std::wstring& exe, DWORD seconds) {
    const ULONGLONG end = GetTickCount64() + seconds * 1000ULL;
    while (FindGateways(exe).found.empty()) {
        if (GetTickCount64() >= end) return 1;
        Sleep(100);
    }
    return 0;
}

int Close(const std::wstring& exe, DWORD seconds) {
    int rc = 0;
    for (const auto& [window, pid] : FindGateways(exe).found) {
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
        if (!process) continue;
        COPYDATASTRUCT exit{};
        exit.cbData = sizeof tw::kExitMessage - 1;
        exit.lpData = const_cast<char*>(tw::kExitMessage);
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&exit), SMTO_ABORTIFHUNG, 10000, &answer);
        // The close waits up to about 5 s for OPC clients to let go.
        if (WaitForSingleObject(process, seconds * 1000) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "tw-setup-helper: the gateway (process %lu) did not close; ended by force\n",
                         static_cast<unsigned long>(pid));
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 10000);
            rc = 1;
        }
        CloseHandle(process);
    }
    return rc;
}

int RegisterOpc() {
    tw::opc::TClassesRootRegistry registry;
    try {
        tw::opc::RegisterOPCServer(tw::opc::kOPCProgId, registry);
    } catch (const tw::opc::TRegistrationError& e) {
        std::fprintf(stderr, "tw-setup-helper: %s\n", e.what());
        return 1;
    }
    return 0;
}

int UnregisterOpc() {
    tw::opc::TClassesRootRegistry registry;
    tw::opc::UnregisterOPCServer(tw::opc::kOPCProgId, registry);
    return FAILED(tw::opc::UnregisterCategoryIfUnused(tw::opc::CATID_OPCDAServer20)) ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"register-opc" && argc == 2) return RegisterOpc();
    if (command == L"unregister-opc" && argc == 2) return UnregisterOpc();
    if (command == L"close" && (argc == 3 || argc == 4))
        return Close(argv[2], argc == 4 ? std::wcstoul(argv[3], nullptr, 10) : 30);
    if (command == L"wait" && (argc == 3 || argc == 4))
        return WaitForGateway(argv[2], argc == 4 ? std::wcstoul(argv[3], nullptr, 10) : 60);
    std::fputs("usage: tw-setup-helper register-opc | unregister-opc | close EXE [SECONDS] | wait EXE [SECONDS]\n",
               stderr);
    return 2;
}
