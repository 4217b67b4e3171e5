#include "acquisition/BackOff.h"

#include <algorithm>

namespace tw {

void TDeviceBackOff::Failed(TScanClock::time_point now) {
    std::lock_guard<std::mutex> lock(Guard);
    if (!Waiting.load(std::memory_order_relaxed)) {
        Wait = FirstWait;
    } else if (now >= RetryAt) {  // a retry failed (not a second failure within the same wait)
        Wait = std::min<TScanClock::duration>(Wait * 3 / 2, LongestWait);
    }
    RetryAt = now + Wait;
    Waiting.store(true, std::memory_order_release);
}

bool TDeviceBackOff::MayTry(TScanClock::time_point now) const {
    if (!Active()) return true;
    std::lock_guard<std::mutex> lock(Guard);
    return now >= RetryAt;
}

TScanClock::time_point TDeviceBackOff::NextTry() const {
    if (!Active()) return TScanClock::time_point::min();
    std::lock_guard<std::mutex> lock(Guard);
    return RetryAt;
}

void TDeviceBackOff::Clear() {
    std::lock_guard<std::mutex> lock(Guard);
    Waiting.store(false, std::memory_order_release);
}

}  // namespace tw
