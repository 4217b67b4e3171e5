// The operator's polling switch: written by the run controller, read by every scan loop without a lock.
#pragma once

#include <atomic>

namespace tw {

extern std::atomic<bool> PollingSwitch;  // off at start-up

}  // namespace tw
