// The exact bytes of every request the client sends.
#include "FakeDevice.h"
#include "modbus/IdModBusClient.h"

#include <gtest/gtest.h>

namespace tw::test {
namespace {

TRequest Bytes(std::initializer_list<int> list) {
    TRequest r{};
    std::size_t i = 0;
    for (int b : list) r[i++] = static_cast<uint8_t>(b);
    return r;
}

TEST(RequestFrame, AddressIsRegisterMinusOneWrappingZero) {
    TIdModBusClient client;
    client.ModBusFunction = 3;
    client.BlockLength = 1;
    client.RegNumber = 1;
    EXPECT_EQ(BuildRequest(client)[8], 0);
    EXPECT_EQ(BuildRequest(client)[9], 0);
    client.RegNumber = 0;
    EXPECT_EQ(BuildRequest(client)[8], 0xFF);
    EXPECT_EQ(BuildRequest(client)[9], 0xFF);
}

// At most what Modbus allows one read to ask for: 2,000 coils or inputs, 125 registers.
TEST(RequestFrame, BlockLengthIsCappedPerFunction) {
    TIdModBusClient client;
    struct TRow {
        int function;
        uint16_t asked, sent;
    };
    for (const TRow& row : {TRow{1, 300, 300}, TRow{2, 300, 300}, TRow{3, 300, 125}, TRow{4, 300, 125},
                            TRow{1, 3000, 2000}, TRow{2, 2001, 2000}, TRow{3, 126, 125}}) {
        client.ModBusFunction = static_cast<uint8_t>(row.function);
        client.BlockLength = row.asked;
        const auto frame = BuildRequest(client);
        EXPECT_EQ((frame[10] << 8) | frame[11], row.sent) << "function " << row.function << ", " << row.asked;
    }
}

// Through a real exchange, so what is checked is what went over the wire.
TEST(RequestFrame, ReadsAndWritesOnTheWire) {
    TFakeDevice device;
    TIdModBusClient client;
    client.Host = "127.0.0.1";
    client.Port = device.Port();
    client.TimeOut = 2000;

    uint16_t value = 99;
    client.UnitID = 7;
    ASSERT_TRUE(client.ReadCoilValue(10, value));
    client.UnitID = 1;
    ASSERT_TRUE(client.WriteSingleRegister(100, 0x1234));
    ASSERT_TRUE(client.WriteSingleCoil(10, 1));
    ASSERT_TRUE(client.WriteSingleCoil(10, 0));
    ASSERT_TRUE(client.WriteSingleCoil(10, 256));
    ASSERT_TRUE(client.ReadRegisterValue(0, value));
    std::vector<uint16_t> block(2000);
    ASSERT_TRUE(client.ReadRegisterBlock(10, 125, block.data()));
    ASSERT_TRUE(client.ReadCoilBlock(1, 2000, block.data()));

    // The transaction identifier counts the requests of the connection from 0.
    const std::vector<TRequest> expected{
        Bytes({0, 0, 0, 0, 0, 6, 7, 1, 0x00, 0x09, 0x00, 0x01}),
        Bytes({0, 1, 0, 0, 0, 6, 1, 6, 0x00, 0x63, 0x12, 0x34}),
        Bytes({0, 2, 0, 0, 0, 6, 1, 5, 0x00, 0x09, 0xFF, 0x00}),
        Bytes({0, 3, 0, 0, 0, 6, 1, 5, 0x00, 0x09, 0x00, 0x00}),
        Bytes({0, 4, 0, 0, 0, 6, 1, 5, 0x00, 0x09, 0xFF, 0x00}),
        Bytes({0, 5, 0, 0, 0, 6, 1, 3, 0xFF, 0xFF, 0x00, 0x01}),
        Bytes({0, 6, 0, 0, 0, 6, 1, 3, 0x00, 0x09, 0x00, 0x7D}),
        Bytes({0, 7, 0, 0, 0, 6, 1, 1, 0x00, 0x00, 0x07, 0xD0}),
    };
    EXPECT_EQ(device.Requests(), expected);
    EXPECT_EQ(device.Register(100), 0x1234);
    EXPECT_EQ(device.Connections(), 1);
}

}  // namespace
}  // namespace tw::test
