// Against a real Modbus TCP server (pymodbus on loopback): scan, on-demand reads and writes.
#include "PymodbusServer.h"
#include "acquisition/PollingSwitch.h"
#include "tags/DeviceAccess.h"
#include "tags/TagTable.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

namespace tw {
namespace {

bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

uint16_t Value(int tag) { return DataPoints[static_cast<std::size_t>(tag)].Value(); }

TEST(Pymodbus, ScanReadsAndWritesReachTheServer) {
    test::TPymodbusServer server;
    ASSERT_GT(server.Port(), 0) << "pymodbus server did not start";

    TModBusObj& device = DeviceList.Add();
    device.SetConnection("127.0.0.1", server.Port(), 1);
    const std::vector<std::pair<int, int>> points{{40, 0}, {101, 0}, {3, 1}, {4, 1}};  // number, type
    for (auto [no, type] : points) {
        TIOPointObj& p = device.Registers[static_cast<std::size_t>(device.AddRegister())];
        p.RegisterNo = no;
        p.RegisterType = type;
        p.TagName = "Tag" + std::to_string(no);
    }
    BuildTagTable(DeviceList);
    device.Start();
    EXPECT_FALSE(device.Simulated);
    PollingSwitch = true;

    // Register n sits at address n-1, which the server fills with its own address.
    EXPECT_TRUE(WaitUntil([] { return Value(0) == 39 && Value(1) == 100 && Value(2) == 1 && Value(3) == 0; }));

    WriteTagToDevice(TagIdByName("Tag40") - FirstTagId, 0xCAFE);
    WriteTagToDevice(2, 0);  // coil 3 off
    WriteTagToDevice(3, 1);  // coil 4 on
    EXPECT_EQ(ReadTagFromDevice(0), 0xCAFE);
    EXPECT_EQ(ReadTagFromDevice(2), 0);
    EXPECT_EQ(ReadTagFromDevice(3), 1);
    EXPECT_TRUE(WaitUntil([] { return Value(0) == 0xCAFE && Value(2) == 0 && Value(3) == 1; }));

    PollingSwitch = false;
    device.Stop();
    EXPECT_FALSE(device.Running);
    DeviceList.Clear();
    ResetTagTable();
}

}  // namespace
}  // namespace tw
