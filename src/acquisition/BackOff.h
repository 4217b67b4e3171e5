// How long a device whose connection failed is left alone before it is tried again.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>

namespace tw {

using TScanClock = std::chrono::steady_clock;

// The first retry comes 250 ms after the failure; every retry that fails again makes the next wait
// 1.5 times as long, up to 1 s. So a device that comes back is tried again within 1 s (within 1 s
// plus one connect time-out when its host did not answer at all), while a dead one costs one attempt
// a second, or one per time-out and a second when each attempt waits out a time-out.
class TDeviceBackOff {
public:
    static constexpr auto FirstWait = std::chrono::milliseconds(250);
    static constexpr auto LongestWait = std::chrono::milliseconds(1000);

    // A connection failed (connect refused or timed out, no answer in time): wait before the next try.
    void Failed(TScanClock::time_point now);
    // The device answered (also with an exception): no more waiting.
    void Succeeded() {
        if (Active()) Clear();
    }
    // True from a failure until the next answer, also once the wait is over.
    bool Active() const { return Waiting.load(std::memory_order_acquire); }
    // True when the device may be tried: no failure, or the wait since the last one is over.
    bool MayTry(TScanClock::time_point now) const;
    // When the device may be tried next: the end of the wait, or the earliest time without one.
    TScanClock::time_point NextTry() const;
    void Clear();

private:
    std::atomic<bool> Waiting{false};
    mutable std::mutex Guard;  // the two below
    TScanClock::duration Wait{};
    TScanClock::time_point RetryAt{};
};

}  // namespace tw
