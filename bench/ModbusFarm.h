// Many Modbus TCP devices on loopback, played by one thread: every connection of every listener is
// answered from the same values, which change with an epoch that the benchmark moves. Answers go at
// once or after a set delay, as on a plant network.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace tw::bench {

// What the benchmark and the farm share; it may live in memory shared with a child process.
struct TFarmControl {
    std::atomic<uint32_t> Epoch{0};
    std::atomic<uint64_t> Served{0};  // answers sent
    std::atomic<int> Quit{0};
    uint32_t DelayUs = 0;  // set before Serve
};

// The value of the holding register at a 0-based address in an epoch; a coil is on when it is odd.
inline uint16_t FarmValue(int address, uint32_t epoch) { return static_cast<uint16_t>(address + 1 + epoch * 1000u); }

class TModbusFarm {
public:
    explicit TModbusFarm(TFarmControl& control);
    ~TModbusFarm();
    TModbusFarm(const TModbusFarm&) = delete;
    TModbusFarm& operator=(const TModbusFarm&) = delete;

    // A new listener on 127.0.0.1; its port.
    int Listen();
    // Answers functions 1 and 3 (others get exception 1) until control.Quit is set.
    void Serve();

private:
    struct TConnection;
    TFarmControl& Control;
    std::vector<std::intptr_t> Listeners;
};

}  // namespace tw::bench
