#include "config/win32/RegistryRunKey.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace tw::test {
namespace {

std::string ReadRunValue(const std::string& name) {
    char data[MAX_PATH] = {};
    DWORD size = sizeof data;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kRunKey, name.c_str(), RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return "<none>";
    return data;
}

TEST(RegistryRunKeyTest, WritesAndRemovesTheRunValue) {
    TRegistryRunKey registry;
    const std::string name = "Velmora Tarnowick test value";
    ASSERT_TRUE(SetRunOnStartup(registry, name, "C:\\Apps\\Gw\\Tarnowick.exe", false, false));
    EXPECT_EQ(ReadRunValue(name), "C:\\Apps\\Gw\\Tarnowick.exe");
    EXPECT_TRUE(SetRunOnStartup(registry, name, "", false, true));
    EXPECT_EQ(ReadRunValue(name), "<none>");
    EXPECT_TRUE(SetRunOnStartup(registry, name, "", false, true));  // already gone: no failure
}

}  // namespace
}  // namespace tw::test
