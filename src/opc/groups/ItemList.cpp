#include "opc/groups/ItemList.h"

#include <algorithm>

namespace tw::opc {

TOPCItem* TOPCItemList::Find(OPCHANDLE serverHandle) const {
    auto found = index_.find(serverHandle);
    return found == index_.end() ? nullptr : found->second;
}

TOPCItem& TOPCItemList::Append(const TOPCItem& item) {
    auto owned = std::make_unique<TOPCItem>(item);
    owned->Position = static_cast<uint32_t>(items_.size());
    // Room first, so that nothing below can throw once the index holds the item.
    if (items_.size() == items_.capacity()) items_.reserve(items_.size() * 2 + 8);
    if (marked_.size() == marked_.capacity()) marked_.reserve(marked_.size() * 2 + 64);
    const bool inserted = index_.emplace(owned->ServerHandle, owned.get()).second;  // may throw: nothing changed yet
    if (!inserted) ++duplicates_;
    items_.push_back(std::move(owned));
    marked_.push_back(false);
    return *items_.back();
}

void TOPCItemList::MarkForRemoval(TOPCItem& item) {
    if (marked_[item.Position]) return;
    marked_[item.Position] = true;
    if (markedCount_ == 0 || item.Position < firstMarked_) firstMarked_ = item.Position;
    ++markedCount_;
    auto found = index_.find(item.ServerHandle);
    if (found != index_.end() && found->second == &item) {
        index_.erase(found);
        if (duplicates_ > 0) IndexFirstUnmarked(item.ServerHandle);
    } else if (duplicates_ > 0) {
        --duplicates_;  // a later item with a repeated handle, never in the index
    }
}

void TOPCItemList::IndexFirstUnmarked(OPCHANDLE serverHandle) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (!marked_[i] && items_[i]->ServerHandle == serverHandle) {
            index_.emplace(serverHandle, items_[i].get());
            --duplicates_;
            return;
        }
    }
}

void TOPCItemList::RemoveMarked() {
    if (markedCount_ == 0) return;
    std::size_t kept = firstMarked_;
    for (std::size_t i = firstMarked_; i < items_.size(); ++i) {
        if (marked_[i]) {
            items_[i].reset();
            continue;
        }
        if (kept != i) items_[kept] = std::move(items_[i]);
        items_[kept]->Position = static_cast<uint32_t>(kept);
        ++kept;
    }
    items_.resize(kept);
    marked_.resize(kept);
    std::fill(marked_.begin() + static_cast<std::ptrdiff_t>(firstMarked_), marked_.end(), false);
    markedCount_ = 0;
}

void TOPCItemList::Clear() {
    items_.clear();
    index_.clear();
    marked_.clear();
    markedCount_ = 0;
    duplicates_ = 0;
}

}  // namespace tw::opc
