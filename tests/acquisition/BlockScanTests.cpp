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

        // After a while the block is tried again.
        const std::size_t before = peer.Requests().size();
        clock.Advance(std::chrono::minutes(2));
        EXPECT_TRUE(WaitUntil([&] {
            const auto now = peer.Requests();
            return std::any_of(now.begin() + static_cast<std::ptrdiff_t>(before), now.end(),
                               [](const TRequest& r) { return Summary(r) == "3@0x6"; });
        }));
        device.Stop();
    }
}

}  // namespace
}  // namespace tw::test
