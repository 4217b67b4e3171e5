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

// Process ids of running programs whose file name is exeName (case-insensitive).
std::vector<DWORD> ProcessIdsOf(const std::wstring& exeName);
// Waits until none is left; false after timeoutMs.
bool WaitUntilGone(const std::wstring& exeName, DWORD timeoutMs);
void EndProcess(DWORD pid);

std::wstring BinDir();  // folder of the running test program, with a trailing backslash
bool FileExists(const std::wstring& path);

}  // namespace tw::opc::test
