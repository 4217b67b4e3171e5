// Shared set-up for device tests: short time-outs, a few data points, and polling reset afterwards.
#pragma once

#include "FakeDevice.h"
#include "acquisition/ModBusObj.h"
#include "acquisition/PollingSwitch.h"
#include "tags/DataPoints.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

namespace tw::test {

inline uint16_t PointValue(int index) { return DataPoints[static_cast<std::size_t>(index)].Value(); }

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

class DeviceTest : public ::testing::Test {
protected:
    void TearDown() override {
        PollingSwitch = false;
        FreeDataPoints();
    }
};

// A port where nothing listens: connects are refused at once.
inline int ClosedPort() {
    TTcpListener listener;
    return listener.Port();
}

}  // namespace tw::test
