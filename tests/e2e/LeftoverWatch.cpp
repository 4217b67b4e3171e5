// Every end-to-end program closes what its tests left running: after each test, any of our programs
// that appeared during it and is still there; at the program's end, any that appeared since its start
// (suite set-ups included). A server left behind keeps its COM registration, and under Wine every
// later activation of the class, in this program or the next, fails.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "ProcessDriver.h"

namespace tw::e2e {
namespace {

using TProcesses = std::map<DWORD, std::wstring>;

// Our own programs, as the tests start them or COM starts them for the tests.
TProcesses OwnProcesses() {
    TProcesses found;
    for (const wchar_t* name : {L"Tarnowick.exe", L"opc-test-server.exe", L"opc-console-test-server.exe",
                                L"opcda-cli.exe", L"opcda-cli32.exe", L"opc-subscriber.exe"})
        for (DWORD pid : ProcessIdsOf(name)) found[pid] = name;
    return found;
}

class TLeftoverWatch : public ::testing::EmptyTestEventListener {
public:
    void OnTestProgramStart(const ::testing::UnitTest&) override { atProgramStart_ = OwnProcesses(); }
    void OnTestStart(const ::testing::TestInfo&) override { atTestStart_ = OwnProcesses(); }
    void OnTestEnd(const ::testing::TestInfo& test) override {
        CloseNew(atTestStart_, std::string(test.test_suite_name()) + "." + test.name());
    }
    void OnTestProgramEnd(const ::testing::UnitTest&) override { CloseNew(atProgramStart_, "the test program"); }

private:
    static TProcesses NewSince(const TProcesses& before) {
        TProcesses added;
        for (const auto& [pid, name] : OwnProcesses())
            if (!before.count(pid)) added[pid] = name;
        return added;
    }
    // A server whose last client has just gone may still be on its way out: a moment's grace first.
    static void CloseNew(const TProcesses& before, const std::string& by) {
        TProcesses left = NewSince(before);
        for (int i = 0; i < 30 && !left.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            left = NewSince(before);
        }
        for (const auto& [pid, name] : left) {
            const std::string exe(name.begin(), name.end());  // our names are ASCII
            std::fprintf(stderr, "%s left %s (process %lu) running: ", by.c_str(), exe.c_str(), pid);
            std::fprintf(stderr, "%s\n", CloseProcess(pid) ? "closed" : "terminated");
        }
    }

    TProcesses atProgramStart_, atTestStart_;
};

auto* const leftoverWatch = [] {
    auto* watch = new TLeftoverWatch;
    ::testing::UnitTest::GetInstance()->listeners().Append(watch);
    return watch;
}();

}  // namespace
}  // namespace tw::e2e
