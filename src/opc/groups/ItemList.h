// A group's ordered item list with an index by server handle. The index keeps the meaning of a
// search from the front (the first item with a handle wins) without walking the list.
#pragma once

#include <cstddef>
#include <memory>
#include <unordered_map>
#include <vector>

#include "opc/groups/ItemsUnit.h"

namespace tw::opc {

class TOPCItemList {
public:
    std::size_t Count() const { return items_.size(); }
    bool Empty() const { return items_.empty(); }
    TOPCItem& operator[](std::size_t position) const { return *items_[position]; }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

    // The first item with that server handle (its Position is its list position), or null.
    TOPCItem* Find(OPCHANDLE serverHandle) const;
    void Reserve(std::size_t count) {
        items_.reserve(count);
        marked_.reserve(count);
        index_.reserve(count);
    }
    // Appends at the end; may throw std::bad_alloc, leaving the list as it was.
    TOPCItem& Append(const TOPCItem& item);

    // Removal in two steps, so that removing many items costs one pass over the list: a marked item
    // is no longer found; RemoveMarked frees the marked ones and moves the rest up.
    void MarkForRemoval(TOPCItem& item);
    void RemoveMarked();
    void Clear();

private:
    void IndexFirstUnmarked(OPCHANDLE serverHandle);

    std::vector<std::unique_ptr<TOPCItem>> items_;
    std::unordered_map<OPCHANDLE, TOPCItem*> index_;
    std::vector<bool> marked_;      // by position
    std::size_t markedCount_ = 0;
    std::size_t firstMarked_ = 0;  // items before it stay where they are
    std::size_t duplicates_ = 0;    // items whose handle an earlier item already has
};

}  // namespace tw::opc
