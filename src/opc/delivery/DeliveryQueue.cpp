#include "opc/delivery/DeliveryQueue.h"

#include <algorithm>

namespace tw::opc {

void TDeliveryQueue::Push(std::unique_ptr<TDelivery> d) {
    if (!d) return;
    if (d->Kind == TDeliveryKind::DataChange) {
        const auto last = lastOfGroup_.find(d->Group);
        if (last != lastOfGroup_.end() && last->second->Kind == TDeliveryKind::DataChange &&
            last->second->Link == d->Link) {
            last->second->Fold(std::move(*d));
            return;
        }
    }
    entries_.push_back(std::move(d));
    lastOfGroup_[entries_.back()->Group] = entries_.back().get();
}

std::unique_ptr<TDelivery> TDeliveryQueue::Pop() {
    if (entries_.empty()) return nullptr;
    std::unique_ptr<TDelivery> d = std::move(entries_.front());
    entries_.pop_front();
    const auto last = lastOfGroup_.find(d->Group);
    if (last != lastOfGroup_.end() && last->second == d.get()) lastOfGroup_.erase(last);
    return d;
}

void TDeliveryQueue::Drop(uint32_t link) {
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [link](const std::unique_ptr<TDelivery>& d) { return d->Link == link; }),
                   entries_.end());
    // The last delivery of a group may have gone: the one before it, if any, takes its place.
    lastOfGroup_.clear();
    for (const auto& d : entries_) lastOfGroup_[d->Group] = d.get();
}

void TDeliveryQueue::Clear() {
    entries_.clear();
    lastOfGroup_.clear();
}

}  // namespace tw::opc
