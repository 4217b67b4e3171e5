// Waking the delivery threads after an update pass: the pass wakes one, each woken thread the next,
// so the pass pays for one wake-up, not for one per client (under Wine each is a round trip to its
// server, and the woken threads would take the cores from the pass).
//
// A thread that is not asleep when its turn comes (inside a call to a hung client, or ended) is
// passed over: a busy thread finds its work before it sleeps again, an ended one has none, and
// neither may hold up the threads after it.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

namespace tw::opc {

// A thread that sleeps until it is woken.
class TSleeper {
public:
    virtual ~TSleeper() = default;
    // Wakes the thread if it is asleep (it then wakes the chain's next sleeper in turn); false when
    // it is not.
    virtual bool WakeIfAsleep() = 0;
};

class TWakeChain {
public:
    // Held until its turn comes. Throws std::bad_alloc.
    void Add(std::shared_ptr<TSleeper> sleeper);
    // Wakes the next sleeper that is asleep; those before it that are not leave the chain.
    void WakeNext();

private:
    std::mutex guard_;
    std::vector<std::shared_ptr<TSleeper>> waiting_;
};

// The delivery threads' chain. Never destroyed: detached threads may use it at the process's end.
TWakeChain& DeliveryWakeChain();

}  // namespace tw::opc
