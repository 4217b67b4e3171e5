// opc-subscriber (Subscriber.cpp): an OPC client in a process of its own, for the end-to-end tests
// and the client-load benchmark. It subscribes to items in one or more groups of DA2 and writes what
// it received to a report file:
//
//   opc-subscriber --report FILE --items A,B,... [--groups N] [--rate MS] [--duration MS]
//                  [--stall-after MS --stall MS] [--fail] [--shutdown-sink] [--disconnect-first-sink]
//                  [--stamps NAME]
//
// --stall: once MS after its first data change, it stops handling messages for the --stall time.
// --fail: OnDataChange answers E_FAIL. --shutdown-sink: it advises an IOPCShutdown sink and ends when
// the server asks (the report then has a line "shutdown_request"). --disconnect-first-sink: the
// first group has a sink of its own, disconnected (CoDisconnectObject) after its first data change
// but left advised; the report counts only the other sink's. --stamps: the name of a TLoadStamps
// block; the subscriber then counts only what arrives inside the block's window, measures the latency
// of every item update, and runs until the window has closed. The report's first line "subscribed"
// comes once every group is advised; "key: value" lines follow when it ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace tw::opc::test {

inline constexpr wchar_t kSubscriberExe[] = L"opc-subscriber.exe";
inline constexpr char kSubscribedLine[] = "subscribed";

// Shared by a load generator and its subscribers: when the device took each value (a
// QueryPerformanceCounter stamp, comparable across processes), and the window to count over.
struct TLoadStamps {
    volatile LONGLONG measureFrom;   // 0 until the generator opens the window
    volatile LONGLONG measureUntil;
    volatile LONGLONG setAt[65536];  // by value; 0 for a value not set yet
};

// The report's "key: value" lines; "subscribed" maps to "".
inline std::map<std::string, std::string> ReadSubscriberReport(const std::wstring& path) {
    std::map<std::string, std::string> report;
    std::ifstream in(path.c_str());
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos)
            report[line] = "";
        else
            report[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return report;
}

inline long long ReportNumber(const std::map<std::string, std::string>& report, const std::string& key) {
    const auto it = report.find(key);
    return it == report.end() ? -1 : std::stoll(it->second);
}

}  // namespace tw::opc::test
