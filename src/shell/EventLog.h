// The event log: one time-stamped line per operator-visible event, in the Monitor page's memo and,
// when "Log Event" was on at the last settings load, in the log file.
#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace tw {

class IGeneral;

// The memo as the log sees it.
class ILogMemo {
public:
    virtual ~ILogMemo() = default;
    virtual int LineCount() const = 0;
    virtual void ClearLines() = 0;
    virtual void AppendLine(const std::string& line) = 0;
    // Lines appended between the two may reach the control together, at the end.
    virtual void BeginUpdate() {}
    virtual void EndUpdate() {}
};

inline constexpr int kLogMemoMaxLines = 1000;
inline constexpr char kLogFilePath[] = "C:\\Tarnowick.log";

// "yyyy-mm-dd hh:nn:ss " for a local time.
std::string LogTimePrefix(const std::tm& local);

class TEventLog {
public:
    using Clock = std::function<std::tm()>;  // current local time
    TEventLog(ILogMemo& memo, IGeneral& general, Clock clock = {});

    void WriteLog(const std::string& text);
    // The flag read at the last settings load; false until then.
    void SetLogToFile(bool on) { logToFile_ = on; }
    bool LogToFile() const { return logToFile_; }
    // The Clear button: empties the memo, leaves the file alone.
    void Clear() { memo_.ClearLines(); }

    // While one lives, the lines go to the memo at once when it ends: a line per device of a thousand
    // costs the memo a thousand updates otherwise.
    class TBatch {
    public:
        explicit TBatch(TEventLog& log) : memo_(log.memo_) { memo_.BeginUpdate(); }
        ~TBatch() { memo_.EndUpdate(); }
        TBatch(const TBatch&) = delete;
        TBatch& operator=(const TBatch&) = delete;

    private:
        ILogMemo& memo_;
    };

private:
    ILogMemo& memo_;
    IGeneral& general_;
    Clock clock_;
    bool logToFile_ = false;
};

}  // namespace tw
