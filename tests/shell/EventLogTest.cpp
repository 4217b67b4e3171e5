#include "shell/EventLog.h"

#include <gtest/gtest.h>

#include "ShellFakes.h"

namespace tw::test {
namespace {

std::tm At(int y, int mo, int d, int h, int mi, int s) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return t;
}

struct EventLogTest : ::testing::Test {
    FakeView memo;
    FakeGeneral general;
    TEventLog log{memo, general, [] { return At(2026, 3, 4, 5, 6, 7); }};
};

TEST_F(EventLogTest, LineIsZeroPaddedLocalTimeThenText) {
    log.WriteLog("Loading settings.");
    ASSERT_EQ(memo.lines.size(), 1u);
    EXPECT_EQ(memo.lines[0], "2026-03-04 05:06:07 Loading settings.");
    EXPECT_EQ(LogTimePrefix(At(1999, 12, 31, 23, 59, 58)), "1999-12-31 23:59:58 ");
}

TEST_F(EventLogTest, MemoIsEmptiedWhenItHoldsAThousandLines) {
    for (int i = 0; i < 999; ++i) log.WriteLog("line " + std::to_string(i));
    ASSERT_EQ(memo.LineCount(), 999);
    log.WriteLog("the 1000th");
    EXPECT_EQ(memo.LineCount(), 1000);
    log.WriteLog("the 1001st");
    ASSERT_EQ(memo.LineCount(), 1);
    EXPECT_EQ(memo.lines[0], "2026-03-04 05:06:07 the 1001st");
}

TEST_F(EventLogTest, FileGetsBareTextOnlyWhileFlagIsOn) {
    log.WriteLog("before");
    log.SetLogToFile(true);
    log.WriteLog("Settings loaded.");
    log.SetLogToFile(false);
    log.WriteLog("after");
    ASSERT_EQ(general.logged.size(), 1u);
    EXPECT_EQ(general.logged[0].first, "Settings loaded.");
    EXPECT_EQ(general.logged[0].second, "C:\\Tarnowick.log");
}

TEST_F(EventLogTest, ClearEmptiesMemoButNotFile) {
    log.SetLogToFile(true);
    log.WriteLog("one");
    log.Clear();
    EXPECT_EQ(memo.LineCount(), 0);
    log.WriteLog("two");
    EXPECT_EQ(memo.LineCount(), 1);
    EXPECT_EQ(general.logged.size(), 2u);
}

}  // namespace
}  // namespace tw::test
