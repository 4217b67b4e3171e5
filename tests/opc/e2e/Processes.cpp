#include "Processes.h"

#include "e2e/ProcessDriver.h"

namespace tw::opc::test {

TRunResult RunProgram(const std::wstring& commandLine, DWORD timeoutMs) {
    TRunResult r;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return r;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::wstring line = commandLine;
    r.started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi) != 0;
    CloseHandle(writeEnd);
    if (!r.started) {
        CloseHandle(readEnd);
        return r;
    }
    // Read until the program closes its end (it ends, or is ended below).
    const DWORD start = GetTickCount();
    char buf[4096];
    for (;;) {
        DWORD avail = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &avail, nullptr)) break;
        if (avail > 0) {
            DWORD n = 0;
            if (!ReadFile(readEnd, buf, sizeof buf, &n, nullptr) || n == 0) break;
            r.output.append(buf, n);
            continue;
        }
        if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0) {
            DWORD n = 0;
            while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &avail, nullptr) && avail > 0 &&
                   ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0)
                r.output.append(buf, n);
            break;
        }
        if (GetTickCount() - start > timeoutMs) {
            r.timedOut = true;
            TerminateProcess(pi.hProcess, 99);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    GetExitCodeProcess(pi.hProcess, &r.exitCode);
    CloseHandle(readEnd);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return r;
}

bool WaitUntilGone(const std::wstring& exeName, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!e2e::ProcessIdsOf(exeName).empty()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

bool EndedByItself(const std::wstring& exeName, DWORD timeoutMs) {
    if (WaitUntilGone(exeName, timeoutMs)) return true;
    for (DWORD pid : e2e::ProcessIdsOf(exeName)) e2e::CloseProcess(pid);
    return false;
}

DWORD RegisterGatewayCopy(const std::wstring& folder) {
    RunProgram(L"regsvr32.exe /s \"" + e2e::BinFolder() + L"TarnowickPS.dll\"", 30000);
    return RunProgram(L"\"" + folder + L"Tarnowick.exe\" /RegServer", 30000).exitCode;
}

void RestoreBuildRegistration() { RunProgram(L"\"" + e2e::BinFolder() + L"Tarnowick.exe\" /RegServer", 30000); }

bool KillProcess(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process) return false;
    const bool ended = TerminateProcess(process, 99) && WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

ULONGLONG ProcessCpuTime(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    FILETIME created, exited, kernel, user;
    ULONGLONG t = 0;
    if (process && GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        t = (static_cast<ULONGLONG>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
            (static_cast<ULONGLONG>(user.dwHighDateTime) << 32 | user.dwLowDateTime);
    }
    if (process) CloseHandle(process);
    return t;
}

std::wstring TempFile(const wchar_t* prefix) {
    wchar_t temp[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    GetTempFileNameW(temp, prefix, 0, file);
    return file;
}

std::wstring BinDir() {
    wchar_t exe[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe, n);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace tw::opc::test
