#include "shell/EventLog.h"

#include <cstdio>

#include "libs/General.h"

namespace tw {

namespace {
std::tm LocalNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local;
}
}  // namespace

std::string LogTimePrefix(const std::tm& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

TEventLog::TEventLog(ILogMemo& memo, IGeneral& general, Clock clock)
    : memo_(memo), general_(general), clock_(clock ? std::move(clock) : Clock(LocalNow)) {}

void TEventLog::WriteLog(const std::string& text) {
    // A full memo is emptied at once rather than trimmed line by line: appending stays cheap.
    if (memo_.LineCount() >= kLogMemoMaxLines) memo_.ClearLines();
    memo_.AppendLine(LogTimePrefix(clock_()) + text);
    if (logToFile_) general_.AddLog(text, kLogFilePath);
}

}  // namespace tw
