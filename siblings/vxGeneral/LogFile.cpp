#include "LogFile.h"

#include <windows.h>

#include <cstdio>

namespace vxgen {

void AppendLogLine(const std::string& text, const std::string& path) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    std::string line = stamp;
    for (char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;  // one entry, one line
    line += "\r\n";

    // Append-only access: every write lands at the end, even with another writer on the file.
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace vxgen
