// The operator's polling switch: written by the run controller, read by every scan loop without a lock.
#pragma once

#include "acquisition/BMDThread.h"

#include <atomic>
#include <mutex>

namespace tw {

class TSwitchListener;

// Read like an atomic Boolean. A scan loop waiting for the switch to turn on listens to it, so that it
// can wait without looking every few milliseconds.
class TPollingSwitch {
public:
    TPollingSwitch& operator=(bool on);
    bool load(std::memory_order order = std::memory_order_seq_cst) const { return On.load(order); }
    operator bool() const { return load(); }

private:
    friend class TSwitchListener;
    std::atomic<bool> On{false};
    // Nothing here has work to do at exit, so a device destroyed late in the exit still finds it usable.
    std::mutex Guard;
    TSwitchListener* First = nullptr;  // the listeners, linked through themselves
};

// While it lives, the worker is woken whenever the switch turns on.
class TSwitchListener {
public:
    TSwitchListener(TPollingSwitch& toggle, TBMDExecuteThread& worker);
    ~TSwitchListener();
    TSwitchListener(const TSwitchListener&) = delete;
    TSwitchListener& operator=(const TSwitchListener&) = delete;

private:
    friend class TPollingSwitch;
    TPollingSwitch& Switch;
    TBMDExecuteThread& Worker;
    TSwitchListener* Prev = nullptr;
    TSwitchListener* Next = nullptr;
};

extern TPollingSwitch PollingSwitch;  // off at start-up

}  // namespace tw
