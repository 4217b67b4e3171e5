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
    EXPECT_EQ(registry.ReadString(kRunKey, name), std::nullopt);
    ASSERT_TRUE(SetRunOnStartup(registry, name, "C:\\Apps\\Gw\\Tarnowick.exe", false, false));
    EXPECT_EQ(ReadRunValue(name), "C:\\Apps\\Gw\\Tarnowick.exe");
    EXPECT_EQ(registry.ReadString(kRunKey, name), ReadRunValue(name));
    EXPECT_TRUE(SetRunOnStartup(registry, name, "", false, true));
    EXPECT_EQ(ReadRunValue(name), "<none>");
    EXPECT_EQ(registry.ReadString(kRunKey, name), std::nullopt);
    EXPECT_EQ(registry.ReadString(std::string(kRunKey) + "\\No such key", name), std::nullopt);
    EXPECT_TRUE(SetRunOnStartup(registry, name, "", false, true));  // already gone: no failure
}

}  // namespace
}  // namespace tw::test
