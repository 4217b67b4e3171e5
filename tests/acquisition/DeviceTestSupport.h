// Shared set-up for device tests: short time-outs, a few data points, and polling reset afterwards.
#pragma once

#include "FakeDevice.h"
#include "acquisition/ModBusObj.h"
#include "acquisition/PollingSwitch.h"
#include "values/DataPoints.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace tw::test {

inline uint64_t PointValue(int index) { return DataPoints[static_cast<std::size_t>(index)].Value(); }

// Short time-outs keep failure cases quick; the product's own are seconds.
inline void UseShortTimeOuts(TModBusObj& device, uint32_t timeOutMs = 400) {
    for (TIdModBusClient* c : {&device.ReadClient, &device.WriteClient, &device.PollClient}) {
        c->TimeOut = timeOutMs;
        c->ReadTimeout = static_cast<int32_t>(timeOutMs);
        c->ConnectTimeOut = 1000;
    }
}

// Adds a register whose tag index is the next data point.
inline int AddPoint(TModBusObj& device, int registerNo, int registerType = 0) {
    const int r = device.AddRegister();
    device.Registers[static_cast<std::size_t>(r)].RegisterNo = registerNo;
    device.Registers[static_cast<std::size_t>(r)].RegisterType = registerType;
    device.Registers[static_cast<std::size_t>(r)].TagIndex = static_cast<int32_t>(DataPoints.size());
    DataPoints.Append(1);
    return r;
}

inline TPointSample Point(int index) { return DataPoints[static_cast<std::size_t>(index)].Sample(); }
inline bool Holds(int index, uint64_t value, uint16_t quality) {
    const TPointSample p = Point(index);
    return p.Value == value && p.Quality == quality;
}

// The device's time, moved by the test alone. Give it to a device before Start; it must outlive the
// device's poll thread.
class TFakeClock {
public:
    void DriveDevice(TModBusObj& device) {
        Driven = &device;
        device.Clock = [this] { return TScanClock::time_point(std::chrono::milliseconds(Ms.load())); };
    }
    // Moves the time on and wakes the device's scan loop, which would otherwise rest by the real clock.
    void Advance(std::chrono::milliseconds by) {
        Ms.fetch_add(by.count());
        if (Driven) PausesAtWake = Driven->PollThread.Wake();
    }
    // Waits until the scan loop has come round since the last Advance: whatever that time allowed
    // has been done.
    bool AwaitTurn() const {
        return WaitUntil([&] { return Driven->PollThread.Pauses() > PausesAtWake; });
    }

private:
    std::atomic<long long> Ms{0};
    TModBusObj* Driven = nullptr;
    uint64_t PausesAtWake = 0;
};

class DeviceTest : public ::testing::Test {
protected:
    void TearDown() override {
        PollingSwitch = false;
        FreeDataPoints();
    }
};

// A device object on a scripted device, stopped after each test.
class Scanning : public DeviceTest {
protected:
    void SetUp() override {
        device.SetConnection("127.0.0.1", peer.Port(), 1);
        UseShortTimeOuts(device);
    }
    void TearDown() override {
        device.Stop();
        DeviceTest::TearDown();
    }
    TFakeDevice peer;
    TFakeClock clock;  // outlives the device's poll thread; drives it only when a test says so
    TModBusObj device;
};

// A port where nothing listens: connects are refused at once.
inline int ClosedPort() {
    TTcpListener listener;
    return listener.Port();
}

}  // namespace tw::test
