// The deliveries a client has not received yet, in the order they were made. A client that is behind
// gets its subscription's data changes folded to the latest value of each item, never reordered:
// a data change folds only into its group's last undelivered delivery, and only when that is a data
// change for the same sink too. Not locked: its owner (ClientDelivery) guards it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>

#include "opc/delivery/Delivery.h"

namespace tw::opc {

class TDeliveryQueue {
public:
    // Appends d, or folds it into the delivery it may join.
    void Push(std::unique_ptr<TDelivery> d);
    // The oldest delivery, or null. Once taken it is under way: nothing folds into it any more.
    std::unique_ptr<TDelivery> Pop();
    // Drops every undelivered delivery to the link.
    void Drop(uint32_t link);
    void Clear();
    bool Empty() const { return entries_.empty(); }
    std::size_t Size() const { return entries_.size(); }

private:
    std::deque<std::unique_ptr<TDelivery>> entries_;
    // Each group's last undelivered delivery: the only one a data change of that group may join.
    std::unordered_map<OPCHANDLE, TDelivery*> lastOfGroup_;
};

}  // namespace tw::opc
