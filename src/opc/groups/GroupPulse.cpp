// The group's update pass, run every 10 ms by the server pulse: queued transactions first, then the
// refresh of the active items from the data points, then, when the update rate has elapsed, one
// data change with every changed item.
//
// Each callback the pass makes goes to the server object's delivery (ClientDelivery.h), which queues
// it for its client's thread: a remote client is never called from here, and cannot call back in
// during a pass. An in-process sink is still called at once, and may call back in while its call is
// under way: queue or cancel requests, remove items, remove or release the group, release its
// server. So the pass holds a reference on the group, builds each callback's arrays only after the
// previous callback, and finds request entries by server handle, never by a position alone.
#include "opc/groups/GroupUnit.h"

#include <oleauto.h>

#include <algorithm>
#include <new>

#include "opc/OpcError.h"
#include "opc/ValueConvert.h"
#include "opc/server/ServIMPL.h"
#include "values/DataPoints.h"

namespace tw::opc {
namespace {

// Time is counted, not measured: a late pulse still counts as one step.
constexpr DWORD kPulseStepMs = 10;

}  // namespace

void TOPCGroup::Pulse(double now) {
    if (items_.Empty() || inPass_) return;
    inPass_ = true;
    AddRef();
    try {
        Pass(now);
    } catch (const std::bad_alloc&) {
        // Out of memory for the changed-item buffer: this pass's changes are lost.
    }
    inPass_ = false;
    Release();  // may end the group, when its client let go during the pass
}

void TOPCGroup::Pass(double now) {
    RunPending(now);
    elapsed_ += kPulseStepMs;
    const bool due = elapsed_ >= updateRate_;
    if (due) {
        changed_.clear();
        changed_.reserve(items_.Count());
    }
    // One walk refreshes every active item and, when due, collects its pending change, which is
    // consumed whether or not it is sent. Nothing in between calls out, so this is the same as a
    // refresh walk followed by a collecting walk.
    if (watchValid_) {
        WalkWatched(due);
    } else {
        WalkAll(due);
    }
    if (!due) return;
    if (sink_ && active_ && asyncEnable_ && !changed_.empty()) {
        try {
            pending_.push_back(std::make_unique<TAsyncIO2>(this, TAsyncKind::DataChange, OPC_DS_CACHE, 0));
            pending_.back()->Count = static_cast<DWORD>(changed_.size());
        } catch (const std::bad_alloc&) {
            // This pass's changes are lost like those of a disabled group.
        }
    }
    RunPending(now);
    elapsed_ = 0;
}

uint32_t TOPCGroup::Refreshed(TOPCItem& item, bool due) {
    uint32_t version = 0;
    item.Refresh(version, percentDeadband_);
    if (due && item.TakeChanged()) changed_.push_back(TAsyncEntry{item.Position, item.ServerHandle});
    return version;
}

void TOPCGroup::WalkAll(bool due) {
    watched_.clear();
    watched_.reserve(items_.Count());
    for (const auto& item : items_) {
        if (!item->Active) continue;
        const uint32_t version = Refreshed(*item, due);
        watched_.push_back(TWatchedItem{item->DataPointIndex, item->Position, version, item->PendingChange != FALSE});
    }
    watchValid_ = true;
}

void TOPCGroup::WalkWatched(bool due) {
    const std::size_t points = DataPoints.size();
    for (TWatchedItem& w : watched_) {
        // A data point outside the table leaves the item as it is, as Refresh does. A point whose
        // version has not moved holds the value and quality the item took.
        const uint32_t version = w.point >= 0 && static_cast<std::size_t>(w.point) < points
                                     ? DataPoints[static_cast<std::size_t>(w.point)].Version()
                                     : w.seen;
        if (version == w.seen && !w.pending) continue;
        TOPCItem& item = items_[w.position];
        w.seen = Refreshed(item, due);
        w.pending = item.PendingChange != FALSE;
    }
}

void TOPCGroup::RunPending(double now) {
    if (pending_.empty()) return;
    if (updateRate_ == 0 || items_.Empty() || !sink_) {
        pending_.clear();
        return;
    }
    // Transactions queued from inside a callback wait for the next run; the list only grows meanwhile.
    // Reads mark items as seen and callbacks may change the items: the walk starts afresh.
    ItemsTouched();
    const std::size_t present = pending_.size();
    for (std::size_t i = 0; i < present; ++i) {
        TAsyncIO2& t = *pending_[i];
        if (t.Cancelled) continue;
        t.Executed = true;
        // A sink that does not answer IOPCDataCallback gets no callbacks, and nothing is executed.
        if (!server_ || !server_->Delivery().Reaches(link_)) continue;
        try {
            Deliver(Execute(t, now));
        } catch (...) {
            // A failed transaction is dropped like a completed one.
        }
    }
    const auto done = static_cast<std::ptrdiff_t>(std::min(present, pending_.size()));
    pending_.erase(pending_.begin(), pending_.begin() + done);
}

std::unique_ptr<TDelivery> TOPCGroup::NewDelivery(TDeliveryKind kind, DWORD transactionId, std::size_t count) {
    if (server_) return server_->Delivery().Make(kind, serverHandle_, transactionId, clientHandle_, count);
    return std::make_unique<TDelivery>(kind, serverHandle_, transactionId, clientHandle_, count);
}

void TOPCGroup::Deliver(std::unique_ptr<TDelivery> d) {
    if (d && server_) server_->Delivery().Send(link_, std::move(d));
}

std::unique_ptr<TDelivery> TOPCGroup::Execute(TAsyncIO2& t, double now) {
    const FILETIME stamp = LocalDateTimeToFileTime(now);
    switch (t.Kind) {
        case TAsyncKind::Read: return ExecuteRead(t, stamp);
        case TAsyncKind::Write: return ExecuteWrite(t);
        case TAsyncKind::Refresh: return ExecuteRefresh(t, stamp);
        case TAsyncKind::DataChange: return ExecuteDataChange(stamp);
    }
    return nullptr;
}

TOPCItem* TOPCGroup::ItemFor(const TAsyncEntry& entry) const {
    if (entry.Position < items_.Count()) {
        TOPCItem& item = items_[entry.Position];
        if (item.ServerHandle == entry.ServerHandle) return &item;
    }
    return items_.Find(entry.ServerHandle);
}

std::unique_ptr<TDelivery> TOPCGroup::ExecuteRead(const TAsyncIO2& t, const FILETIME& stamp) {
    auto d = NewDelivery(TDeliveryKind::ReadComplete, t.ClientTransactionId, t.Entries.size());
    TCallbackArrays& a = d->Items;
    for (std::size_t i = 0; i < t.Entries.size(); ++i) {
        a.timestamps[i] = stamp;
        TOPCItem* item = ItemFor(t.Entries[i]);
        if (!item) {
            a.errors[i] = OPC_E_INVALIDITEMID;
            continue;
        }
        item->ReadForCallback(a.clientHandles[i], a.values[i], true, a.errors[i], a.qualities[i]);
        if (!item->Active) a.qualities[i] = kQualityOutOfService;
    }
    return d;
}

std::unique_ptr<TDelivery> TOPCGroup::ExecuteWrite(TAsyncIO2& t) {
    auto d = NewDelivery(TDeliveryKind::WriteComplete, t.ClientTransactionId, t.Entries.size());
    TCallbackArrays& a = d->Items;
    for (std::size_t i = 0; i < t.Entries.size(); ++i) {
        TOPCItem* item = ItemFor(t.Entries[i]);
        if (!item) {
            a.errors[i] = OPC_E_INVALIDITEMID;  // removed meanwhile: nothing is written for it
            continue;
        }
        a.clientHandles[i] = item->ClientHandle;
        const VARIANT& value = t.Values[i];
        if (!item->Writable) {
            a.errors[i] = OPC_E_BADRIGHTS;
        } else if (value.vt == VT_EMPTY || !IsValidVarType(value.vt)) {
            a.errors[i] = OPC_E_BADTYPE;
        } else {
            a.errors[i] = item->StoreValue(value);
        }
    }
    return d;
}

std::unique_ptr<TDelivery> TOPCGroup::ExecuteRefresh(const TAsyncIO2& t, const FILETIME& stamp) {
    std::size_t active = 0;
    for (const auto& item : items_)
        if (item->Active) ++active;
    if (active == 0) return nullptr;
    auto d = NewDelivery(TDeliveryKind::Refresh, t.ClientTransactionId, active);
    TCallbackArrays& a = d->Items;
    std::size_t n = 0;
    for (const auto& item : items_) {
        if (!item->Active) {
            d->ItemsLeftOut = true;
            continue;
        }
        a.clientHandles[n] = item->ClientHandle;
        a.timestamps[n] = stamp;
        item->GetValue(t.DataSource, a.qualities[n], a.values[n], a.errors[n]);
        ++n;
    }
    return d;
}

std::unique_ptr<TDelivery> TOPCGroup::ExecuteDataChange(const FILETIME& stamp) {
    // The items' cached values as this pass took them; each becomes the client's type when the
    // callback is made. An earlier callback of this run may have removed some of the changed items:
    // they are left out.
    auto d = NewDelivery(TDeliveryKind::DataChange, 0, 0);
    d->Updates.reserve(changed_.size());
    for (const TAsyncEntry& entry : changed_) {
        const TOPCItem* item = ItemFor(entry);
        if (!item) continue;
        d->Updates.push_back(TItemUpdate{item->ServerHandle, item->ClientHandle, stamp, item->ReportedBits(),
                                         item->Quality, item->RequestedType, item->CanonicalType,
                                         item->ReportedType()});
    }
    if (d->Updates.empty()) return nullptr;
    return d;
}

}  // namespace tw::opc
