// Block reads against a scripted device: every value reaches its own data point, and blocks the
// device will not answer whole are read one register at a time.
#include "DeviceTestSupport.h"

#include <algorithm>
#include <random>

namespace tw::test {
namespace {

using BlockReads = Scanning;
using BlockFallback = DeviceTest;

// "3@0x125": function, address and quantity of a read request.
std::string Summary(const TRequest& r) {
    return std::to_string(r[7]) + "@" + std::to_string((r[8] << 8) | r[9]) + "x" + std::to_string((r[10] << 8) | r[11]);
}
std::vector<std::string> Summaries(const std::vector<TRequest>& requests, std::size_t from, std::size_t count) {
    std::vector<std::string> out;
    for (std::size_t i = from; i < from + count && i < requests.size(); ++i) out.push_back(Summary(requests[i]));
    return out;
}

TEST_F(BlockReads, EveryValueReachesItsOwnPoint) {
    struct TReg {
        int no;
        int type;
    };
    std::vector<TReg> regs;
    for (int n = 1; n <= 300; ++n) regs.push_back({n, 0});
    for (int n = 1; n <= 2001; ++n) regs.push_back({n, 1});
    regs.push_back({500, 0});
    regs.push_back({502, 0});
    regs.push_back({7, 0});  // configured twice
    std::shuffle(regs.begin(), regs.end(), std::mt19937(17));
    for (const TReg& r : regs) {
        if (r.type == 0)
            peer.SetRegister(static_cast<uint16_t>(r.no), static_cast<uint16_t>(r.no * 7 + 1));
        else
            peer.SetCoil(static_cast<uint16_t>(r.no), r.no % 3 == 0);
        AddPoint(device, r.no, r.type);
    }
    device.BlockReads = true;
    device.Start();
    PollingSwitch = true;
    auto expected = [&](std::size_t i) {
        const TReg& r = regs[i];
        return r.type == 0 ? peer.Register(static_cast<uint16_t>(r.no)) : static_cast<uint16_t>(peer.Coil(static_cast<uint16_t>(r.no)));
    };
    ASSERT_TRUE(WaitUntil([&] {
        for (std::size_t i = 0; i < regs.size(); ++i)
            if (!Holds(static_cast<int>(i), expected(i), kQualityGood)) return false;
        return true;
    })) << "e.g. point 0 holds " << Point(0).Value << "/" << Point(0).Quality << ", the device " << expected(0);

    // One pass: registers in runs of at most 125, then coils in runs of at most 2,000.
    ASSERT_TRUE(WaitUntil([&] { return peer.Requests().size() >= 14; }));
    const std::vector<std::string> pass{"3@0x125", "3@125x125", "3@250x50", "3@499x1", "3@501x1", "1@0x2000", "1@2000x1"};
    EXPECT_EQ(Summaries(peer.Requests(), 0, 7), pass);
    EXPECT_EQ(Summaries(peer.Requests(), 7, 7), pass);
}

// A device with a hole in its map refuses the block around it; one that answers fewer values than
// asked for is just as useless for a block. Either way the registers are read one at a time, the
// block is tried again only after a while, and every register the device has is read.
TEST_F(BlockFallback, BlocksTheDeviceWillNotAnswerWholeAreReadOneByOneForAWhile) {
    struct TRow {
        const char* name;
        std::function<void(TFakeDevice&)> breakDevice;
        uint16_t fourth;  // quality of register 4 when read on its own
    } rows[] = {
        {"register 4 missing", [](TFakeDevice& d) { d.AddHole(4); }, kQualityConfigError},
        {"at most 4 values an answer", [](TFakeDevice& d) { d.SetLongestAnswer(4); }, kQualityGood},
    };
    const std::vector<std::string> singles{"3@0x1", "3@1x1", "3@2x1", "3@3x1", "3@4x1", "3@5x1"};
    for (TRow& row : rows) {
        SCOPED_TRACE(row.name);
        FreeDataPoints();
        TFakeDevice peer;
        TFakeClock clock;
        TModBusObj device;
        device.SetConnection("127.0.0.1", peer.Port(), 1);
        clock.DriveDevice(device);
        for (int n = 1; n <= 6; ++n) {
            peer.SetRegister(static_cast<uint16_t>(n), static_cast<uint16_t>(100 + n));
            AddPoint(device, n);
        }
        row.breakDevice(peer);
        device.BlockReads = true;
        device.Start();
        PollingSwitch = true;
        ASSERT_TRUE(WaitUntil([&] { return peer.Requests().size() >= 13; }));
        const auto requests = peer.Requests();
        EXPECT_EQ(Summaries(requests, 0, 1), std::vector<std::string>{"3@0x6"});
        EXPECT_EQ(Summaries(requests, 1, 6), singles);
        EXPECT_EQ(Summaries(requests, 7, 6), singles) << "the block was tried again at once";
        for (int i = 0; i < 6; ++i)
            EXPECT_TRUE(Holds(i, i == 3 && row.fourth != kQualityGood ? 0 : static_cast<uint16_t>(101 + i),
                              i == 3 ? row.fourth : kQualityGood))
                << "register " << i + 1 << ": " << Point(i).Value << "/" << Point(i).Quality;

        // After a while the block is tried again. Its failure is not each register's: no point
        // changes value or quality on the way (a subscriber would see a burst of BAD otherwise).
        std::vector<uint32_t> versions;
        for (int i = 0; i < 6; ++i) versions.push_back(DataPoints[static_cast<std::size_t>(i)].Version());
        const std::size_t before = peer.Requests().size();
        clock.Advance(std::chrono::minutes(2));
        std::size_t retried = 0;
        EXPECT_TRUE(WaitUntil([&] {
            const auto now = peer.Requests();
            for (std::size_t i = before; i < now.size() && !retried; ++i)
                if (Summary(now[i]) == "3@0x6") retried = i;
            return retried && now.size() >= retried + 7;  // and the singles after it
        }));
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(DataPoints[static_cast<std::size_t>(i)].Version(), versions[static_cast<std::size_t>(i)])
                << "register " << i + 1 << " changed when the block was tried again";
        device.Stop();
    }
}

// Values of several registers and the two read-only tables, with and without block reads: each value
// comes whole from one answer, in the device's word order, and goes back in one request.
TEST_F(BlockFallback, TypedValuesAreReadWholeAndWrittenInOneRequest) {
    using T = TDataType;
    struct TReg {
        int no, kind;
        T type;
        double value;  // as the point must hold it
    };
    // The device keeps 32- and 64-bit values low word first ("CDAB"); -1.5f is BF C0 00 00, 2.5f is
    // 40 20 00 00, 123.456 is 40 5E DD 2F 1A 9F BE 77.
    const TReg regs[] = {{4, 0, T::Int16, -2},          {1, 0, T::UInt16, 0x1234}, {2, 0, T::Float32, -1.5},
                         {10, 2, T::Float64, 123.456},   {20, 2, T::UInt32, 0x12345678}, {5, 3, T::UInt16, 1},
                         {7, 1, T::UInt16, 0}};
    for (bool blocks : {false, true}) {
        SCOPED_TRACE(blocks ? "block reads" : "one request per value");
        FreeDataPoints();
        TFakeDevice peer;
        TModBusObj device;
        device.SetConnection("127.0.0.1", peer.Port(), 1);
        device.WordOrder = TWordOrder::LowFirst;
        device.BlockReads = blocks;
        for (const TReg& r : regs) {
            const int i = AddPoint(device, r.no, r.kind);
            device.Registers[static_cast<std::size_t>(i)].DataType = r.type;
        }
        for (auto [no, word] : {std::pair{1, 0x1234}, {2, 0x0000}, {3, 0xBFC0}, {4, 0xFFFE}})
            peer.SetRegister(static_cast<uint16_t>(no), static_cast<uint16_t>(word));
        for (auto [no, word] : {std::pair{10, 0xBE77}, {11, 0x1A9F}, {12, 0xDD2F}, {13, 0x405E}, {20, 0x5678}, {21, 0x1234}})
            peer.SetInputRegister(static_cast<uint16_t>(no), static_cast<uint16_t>(word));
        peer.SetDiscreteInput(5, true);
        device.Start();
        PollingSwitch = true;
        auto holds = [&](std::size_t i) {
            const TPointSample p = Point(static_cast<int>(i));
            return p.Quality == kQualityGood && AsDouble(p.Value, regs[i].type) == regs[i].value;
        };
        ASSERT_TRUE(WaitUntil([&] {
            for (std::size_t i = 0; i < std::size(regs); ++i)
                if (!holds(i)) return false;
            return true;
        })) << "e.g. the Float32 holds " << AsDouble(Point(2).Value, T::Float32);
        const std::vector<std::string> pass =
            blocks ? std::vector<std::string>{"3@0x4", "1@6x1", "4@9x4", "4@19x2", "2@4x1"}
                   : std::vector<std::string>{"3@3x1", "3@0x1", "3@1x2", "4@9x4", "4@19x2", "2@4x1", "1@6x1"};
        EXPECT_EQ(Summaries(peer.Requests(), 0, pass.size()), pass);
        PollingSwitch = false;
        device.Stop();

        // 2.5 goes out low word first with function 16; a 16-bit register with function 6, or 16 for
        // a device that writes only with 16; an input register is not written at all.
        // Function code and what follows it of the last request.
        auto lastRequest = [&](std::size_t bytes) {
            const TRequest r = peer.Requests().back();
            return std::vector<int>(r.begin() + 7, r.begin() + 7 + static_cast<std::ptrdiff_t>(bytes));
        };
        ASSERT_EQ(device.WriteRegisterValue(2, Float32Bits(2.5f)), TWriteResult::Written);
        EXPECT_EQ(lastRequest(10), (std::vector<int>{16, 0, 1, 0, 2, 4, 0, 0, 0x40, 0x20}));
        EXPECT_EQ(peer.Register(3), 0x4020);
        EXPECT_TRUE(Holds(2, Float32Bits(2.5f), kQualityGood));
        ASSERT_EQ(device.WriteRegisterValue(0, static_cast<uint64_t>(-3)), TWriteResult::Written);
        EXPECT_EQ(lastRequest(5), (std::vector<int>{6, 0, 3, 0xFF, 0xFD}));
        EXPECT_EQ(AsInteger(Point(0).Value, T::Int16), -3);
        device.WriteMultiple = true;
        ASSERT_EQ(device.WriteRegisterValue(0, static_cast<uint64_t>(-4)), TWriteResult::Written);
        EXPECT_EQ(lastRequest(8), (std::vector<int>{16, 0, 3, 0, 1, 2, 0xFF, 0xFC}));
        const std::size_t sent = peer.Requests().size();
        EXPECT_EQ(device.WriteRegisterValue(3, Float64Bits(1.0)), TWriteResult::ReadOnly);
        EXPECT_EQ(device.WriteRegisterValue(5, 0), TWriteResult::ReadOnly);
        EXPECT_EQ(peer.Requests().size(), sent);
        EXPECT_TRUE(holds(3));
    }
}

}  // namespace
}  // namespace tw::test
