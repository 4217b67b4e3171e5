#include "opc/delivery/ClientDelivery.h"

#include <algorithm>
#include <new>
#include <utility>

#include "opc/delivery/DeliveryThread.h"
#include "opc/delivery/SinkRelease.h"
#include "opc/delivery/WakeChain.h"

namespace tw::opc {
namespace {

// Delivered callbacks kept for reuse: more than one update pass makes for a client with many groups.
constexpr std::size_t kMaxSpares = 32;

// Calls the client: it answers the query and the marshaling's calls inside its Advise, and may be cut
// off meanwhile. So nothing but what is held here is used: the thread refuses the link once stopped.
uint32_t LinkThreaded(const std::shared_ptr<TDeliveryThread>& thread, IUnknown* sink, REFIID iid, uint32_t link) {
    IUnknown* itf = nullptr;
    if (FAILED(sink->QueryInterface(iid, reinterpret_cast<void**>(&itf))) || !itf) return 0;
    IStream* marshaled = nullptr;
    const HRESULT hr = CoMarshalInterThreadInterfaceInStream(iid, itf, &marshaled);
    itf->Release();
    if (FAILED(hr)) return 0;
    if (thread->AddLink(link, iid, marshaled)) return link;
    DropMarshaled(marshaled);
    return 0;
}

}  // namespace

void WakeDeliveryThreads() { DeliveryWakeChain().WakeNext(); }

std::unique_ptr<TDelivery> TClientDelivery::Make(TDeliveryKind kind, OPCHANDLE group, DWORD transactionId,
                                                 OPCHANDLE clientGroup, std::size_t count) {
    if (spare_.empty() && batching_ == 0) TakeSpares();
    if (spare_.empty()) return std::make_unique<TDelivery>(kind, group, transactionId, clientGroup, count);
    std::unique_ptr<TDelivery> d = std::move(spare_.back());
    spare_.pop_back();
    d->Reset(kind, group, transactionId, clientGroup, count);
    return d;
}

void TClientDelivery::TakeSpares() {
    if (thread_) thread_->TakeSpares(spare_, kMaxSpares);
}

void TClientDelivery::BeginBatch() {
    // An idle pass makes no callback: what it has in hand is enough, and the lock is not taken.
    if (batching_++ == 0 && spare_.empty()) TakeSpares();
}

uint32_t TClientDelivery::Link(IUnknown* sink, REFIID iid) {
    if (!sink || stopped_) return 0;
    // Proxies, and objects that marshal themselves, answer IMarshal without calling anybody.
    IMarshal* marshal = nullptr;
    const bool threaded = SUCCEEDED(sink->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal))) && marshal;
    if (marshal) marshal->Release();
    const uint32_t link = nextLink_ + 1;
    try {
        if (!threaded) {
            direct_.emplace(link, TDirectLink{sink, iid});
            return nextLink_ = link;
        }
        if (!thread_) thread_ = TDeliveryThread::Start();
        if (!thread_) return 0;  // no thread: threaded sinks are not linked
        nextLink_ = link;
        const std::shared_ptr<TDeliveryThread> thread = thread_;
        return LinkThreaded(thread, sink, iid, link);  // this object may be gone when it returns
    } catch (const std::bad_alloc&) {
        // Not linked: the sink gets no callbacks.
    }
    return 0;
}

void TClientDelivery::Unlink(uint32_t link) {
    if (link == 0 || direct_.erase(link) || !thread_) return;
    held_.erase(std::remove_if(held_.begin(), held_.end(),
                               [link](const std::unique_ptr<TDelivery>& d) { return d->Link == link; }),
                held_.end());
    thread_->Unlink(link);
}

bool TClientDelivery::Reaches(uint32_t link) const {
    const auto direct = direct_.find(link);
    if (direct == direct_.end()) return link != 0 && thread_;
    IUnknown* itf = nullptr;
    if (FAILED(direct->second.sink->QueryInterface(direct->second.iid, reinterpret_cast<void**>(&itf))) || !itf)
        return false;
    itf->Release();
    return true;
}

bool TClientDelivery::Send(uint32_t link, std::unique_ptr<TDelivery> d) {
    if (!d || link == 0) return false;
    const auto direct = direct_.find(link);
    if (direct != direct_.end()) {
        // Held across the query: it may let the client unadvise, which releases the sink.
        IUnknown* sink = direct->second.sink;
        sink->AddRef();
        IUnknown* itf = nullptr;
        if (FAILED(sink->QueryInterface(direct->second.iid, reinterpret_cast<void**>(&itf)))) itf = nullptr;
        sink->Release();
        if (!itf) return false;
        d->Call(itf);
        itf->Release();
        return true;
    }
    if (!thread_) return false;
    d->Link = link;
    if (batching_ > 0) {
        held_.push_back(std::move(d));
        return true;
    }
    thread_->Queue(std::move(d));
    return true;
}

void TClientDelivery::EndBatch(bool wakeNow) {
    if (batching_ > 0 && --batching_ > 0) return;
    if (held_.empty() || !thread_) return;
    thread_->QueueBatch(held_);
    if (wakeNow) WakeDeliveryThreads();
}

bool TClientDelivery::Lost(ULONGLONG nowMs, ULONGLONG limitMs) const {
    return thread_ && thread_->Lost(nowMs, limitMs);
}

void TClientDelivery::Abandon(std::vector<IUnknown*> sinks) {
    TMainThreadRefs refs(std::move(sinks));
    // Without a thread they go back at once.
    if (thread_) thread_->Abandon(std::move(refs));
    Stop();
}

void TClientDelivery::Stop() {
    stopped_ = true;
    held_.clear();
    spare_.clear();
    direct_.clear();
    if (!thread_) return;
    thread_->Stop();
    thread_.reset();  // a thread still running holds its state and ends by itself
}

bool TClientDelivery::Idle() const {
    if (!held_.empty()) return false;
    return !thread_ || thread_->Idle();
}

}  // namespace tw::opc
