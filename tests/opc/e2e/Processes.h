// Starting programs from the end-to-end tests and finding the server process that COM started.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tw::opc::test {

struct TRunResult {
    bool started = false;
    DWORD exitCode = 0;
    bool timedOut = false;
    std::string output;  // stdout
};

// Runs commandLine and waits at most timeoutMs; a program still running then is ended by its id.
TRunResult RunProgram(const std::wstring& commandLine, DWORD timeoutMs);

// Waits until no program of that file name is left; false after timeoutMs.
bool WaitUntilGone(const std::wstring& exeName, DWORD timeoutMs);
// A server that COM started must end by itself once its last client has gone. One still running after
// timeoutMs is closed (e2e::CloseProcess), and the answer is false.
bool EndedByItself(const std::wstring& exeName, DWORD timeoutMs = 15000);

// Our proxy/stub, and the gateway copy in folder registered so that COM starts that copy; the
// registration's exit code.
DWORD RegisterGatewayCopy(const std::wstring& folder);
// The build's own Tarnowick.exe registered again, as every other test expects to find it.
void RestoreBuildRegistration();
// Ends the process at once, as a crash would: what it held is never released.
bool KillProcess(DWORD pid);
// Kernel plus user time the process has used so far, in 100 ns units; 0 when it cannot be asked.
ULONGLONG ProcessCpuTime(DWORD pid);
// A new empty file under the temp folder, for a program's report.
std::wstring TempFile(const wchar_t* prefix);

std::wstring BinDir();  // folder of the running test program, with a trailing backslash
bool FileExists(const std::wstring& path);

}  // namespace tw::opc::test
