#include "opc/delivery/WakeChain.h"

#include <utility>

namespace tw::opc {

void TWakeChain::Add(std::shared_ptr<TSleeper> sleeper) {
    std::lock_guard<std::mutex> lock(guard_);
    waiting_.push_back(std::move(sleeper));
}

void TWakeChain::WakeNext() {
    for (;;) {
        std::shared_ptr<TSleeper> next;
        {
            std::lock_guard<std::mutex> lock(guard_);
            if (waiting_.empty()) return;
            next = std::move(waiting_.back());
            waiting_.pop_back();
        }
        // Outside the lock: a woken sleeper may wake the next one before this returns.
        if (next->WakeIfAsleep()) return;
    }
}

TWakeChain& DeliveryWakeChain() {
    static auto* chain = new TWakeChain;
    return *chain;
}

}  // namespace tw::opc
