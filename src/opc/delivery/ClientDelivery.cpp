#include "opc/delivery/ClientDelivery.h"

#include <winerror.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <utility>

#include "opc/delivery/ClientWatch.h"
#include "opc/delivery/DeliveryQueue.h"

namespace tw::opc {
namespace {

// Long enough for an idle thread to let go of a healthy client's sinks; a thread inside a call is
// never waited for.
constexpr DWORD kStopWaitMs = 200;
// A thread that only releases a proxy needs little stack.
constexpr SIZE_T kReleaseStack = 64 * 1024;
// Delivered callbacks kept for reuse: more than one update pass makes for a client with many groups.
constexpr std::size_t kMaxSpares = 32;

bool RunningUnderWine() {
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// Wine exports CoCancelCall as an unimplemented stub, which ends the calling process: there the
// call is left to end by itself.
void CancelCallOf(DWORD threadId) {
    if (!RunningUnderWine()) CoCancelCall(threadId, 0);
}

}  // namespace

bool IsClientGone(HRESULT hr) {
    switch (hr) {
    case RPC_E_DISCONNECTED:           // the sink object was disconnected
    case RPC_E_SERVER_DIED:            // the client's process died during the call
    case RPC_E_SERVER_DIED_DNE:
    case RPC_E_CLIENT_DIED:
    case RPC_E_CONNECTION_TERMINATED:
    case RPC_E_INVALID_OBJECT:
    case CO_E_OBJNOTCONNECTED:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):  // the client's process is gone (Wine: at once)
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
    case HRESULT_FROM_WIN32(RPC_S_COMM_FAILURE): return true;
    default: return false;
    }
}

// Shared by a TClientDelivery and its thread; the thread holds it to its end.
struct TDeliveryState {
    struct TLink {
        IID iid;
        IStream* marshaled;  // until the thread unmarshals it
        IUnknown* sink;      // the thread's: unmarshaled in its apartment, used and released there
        HRESULT failed;      // the unmarshaling's failure
        bool unlinked;
    };

    ~TDeliveryState() {
        if (wake) CloseHandle(wake);
    }

    std::mutex guard;
    HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    TDeliveryQueue queue;
    std::unordered_map<uint32_t, TLink> links;  // only the thread erases
    std::vector<std::unique_ptr<TDelivery>> spares;  // delivered, for the main thread to reuse
    bool stopping = false;
    bool waiting = false;
    bool busy = false;  // a delivery is under way
    std::atomic<bool> gone{false};
    std::atomic<ULONGLONG> callStarted{0};  // tick of the call under way, 0 when none
    DWORD threadId = 0;
};

namespace {

// The threads still to wake after an update pass; the state is held until its thread is woken.
struct TWakeChain {
    std::mutex guard;
    std::vector<std::shared_ptr<TDeliveryState>> waiting;
};
TWakeChain& WakeChain() {
    static auto* chain = new TWakeChain;  // never destroyed: detached threads may use it at the end
    return *chain;
}

void WakeNext() {
    std::shared_ptr<TDeliveryState> next;
    {
        TWakeChain& chain = WakeChain();
        std::lock_guard<std::mutex> lock(chain.guard);
        if (chain.waiting.empty()) return;
        next = std::move(chain.waiting.back());
        chain.waiting.pop_back();
    }
    SetEvent(next->wake);
}

struct TLetGo {
    IUnknown* sink;
    IStream* marshaled;
};

// Under the lock: what the thread is to let go of now (outside the lock: a release may call the
// client). What finds no room stays for the next round.
void TakeReleasable(TDeliveryState& s, std::vector<TLetGo>& out) {
    try {
        for (auto it = s.links.begin(); it != s.links.end();) {
            if (!s.stopping && !it->second.unlinked) {
                ++it;
                continue;
            }
            out.push_back({it->second.sink, it->second.marshaled});
            it = s.links.erase(it);
        }
    } catch (const std::bad_alloc&) {
    }
}

// A marshaled sink that never reached its thread is unmarshaled and released: CoReleaseMarshalData
// of a proxy's marshaling does not give its references back to the client under Wine, whose sink
// then lives for as long as the gateway runs.
void DropMarshaled(IStream* marshaled) {
    IUnknown* sink = nullptr;
    if (SUCCEEDED(CoGetInterfaceAndReleaseStream(marshaled, IID_IUnknown, reinterpret_cast<void**>(&sink))) && sink)
        sink->Release();
}

void LetGo(std::vector<TLetGo>& items) {
    for (const TLetGo& x : items) {
        if (x.sink) x.sink->Release();
        if (x.marshaled) DropMarshaled(x.marshaled);
    }
    items.clear();
}

// Releases one sink object: all the references given to the thread, of one proxy.
DWORD WINAPI ReleaseThread(void* param) {
    const std::unique_ptr<std::vector<IUnknown*>> refs(static_cast<std::vector<IUnknown*>*>(param));
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (IUnknown* ref : *refs) ref->Release();
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

// A cut-off client's sinks are proxies of the main thread's apartment. Whoever releases a hung
// client's proxy waits for the client (a stuck delivery thread never gets to it), and under Wine the
// apartment's end releases every proxy still in it: so each sink object (one proxy, however many
// connections it has) is let go of by a thread of its own, and the main thread waits only a moment.
// A proxy leaves its apartment as its release begins.
void LetGoElsewhere(std::vector<IUnknown*> sinks) {
    std::sort(sinks.begin(), sinks.end());
    std::vector<HANDLE> threads;
    try {
        for (auto first = sinks.begin(); first != sinks.end();) {
            const auto last = std::upper_bound(first, sinks.end(), *first);
            auto* refs = new std::vector<IUnknown*>(first, last);
            HANDLE thread = CreateThread(nullptr, kReleaseStack, ReleaseThread, refs,
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
            if (thread)
                threads.push_back(thread);
            else
                delete refs;  // kept: releasing them here could hang
            first = last;
        }
    } catch (const std::bad_alloc&) {
    }
    const ULONGLONG end = GetTickCount64() + kStopWaitMs;
    for (HANDLE thread : threads) {
        const ULONGLONG now = GetTickCount64();
        WaitForSingleObject(thread, now < end ? static_cast<DWORD>(end - now) : 0);
        CloseHandle(thread);
    }
}

DWORD WINAPI DeliveryThread(void* param) {
    auto* handed = static_cast<std::shared_ptr<TDeliveryState>*>(param);
    const std::shared_ptr<TDeliveryState> s = std::move(*handed);
    delete handed;
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CoEnableCallCancellation(nullptr);
    std::vector<TLetGo> letGo;
    letGo.reserve(16);
    for (;;) {
        std::unique_ptr<TDelivery> d;
        IID iid = IID_NULL;
        IUnknown* sink = nullptr;
        IStream* marshaled = nullptr;
        HRESULT failed = S_OK;
        bool stop = false;
        bool wait = false;
        {
            std::lock_guard<std::mutex> lock(s->guard);
            s->busy = false;
            s->waiting = false;
            TakeReleasable(*s, letGo);
            stop = s->stopping;
            if (!stop && (d = s->queue.Pop())) {
                const auto link = s->links.find(d->Link);
                if (link == s->links.end() || s->gone) {
                    d.reset();  // a vanished client gets nothing more
                } else {
                    iid = link->second.iid;
                    sink = link->second.sink;
                    failed = link->second.failed;
                    marshaled = sink || FAILED(failed) ? nullptr : link->second.marshaled;
                    if (marshaled) link->second.marshaled = nullptr;
                    s->busy = true;
                }
            } else if (!stop) {
                wait = s->waiting = true;
            }
        }
        LetGo(letGo);
        if (stop) break;
        if (wait) {
            WaitForSingleObject(s->wake, INFINITE);
            WakeNext();
        }
        if (!d) continue;
        const uint32_t linkId = d->Link;
        if (marshaled) {
            failed = CoGetInterfaceAndReleaseStream(marshaled, iid, reinterpret_cast<void**>(&sink));
            if (FAILED(failed)) sink = nullptr;
            std::lock_guard<std::mutex> lock(s->guard);
            TDeliveryState::TLink& link = s->links.at(linkId);  // only this thread erases
            link.sink = sink;
            link.failed = failed;
        }
        HRESULT hr = failed;
        if (sink) {
            s->callStarted = std::max<ULONGLONG>(GetTickCount64(), 1);
            hr = d->Call(sink);
            s->callStarted = 0;
        }
        d->Items.Reset(0);  // the values go here, in the thread that made the call
        bool counts = false;
        {
            // A sink unadvised meanwhile may be gone for good reason: the client let go of it.
            std::lock_guard<std::mutex> lock(s->guard);
            const auto link = s->links.find(linkId);
            counts = !s->stopping && link != s->links.end() && !link->second.unlinked;
            try {
                if (s->spares.size() < kMaxSpares) s->spares.push_back(std::move(d));
            } catch (const std::bad_alloc&) {
                // Not kept for reuse: it goes below.
            }
        }
        d.reset();
        if (counts && IsClientGone(hr) && !s->gone.exchange(true)) ReportLostClient();
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

}  // namespace

void TClientDelivery::StartThread() {
    if (state_) return;
    try {
        auto state = std::make_shared<TDeliveryState>();
        if (!state->wake) return;
        auto* handed = new std::shared_ptr<TDeliveryState>(state);
        DWORD id = 0;
        thread_ = CreateThread(nullptr, 0, DeliveryThread, handed, 0, &id);
        if (!thread_) {
            delete handed;
            return;
        }
        state->threadId = id;
        state_ = std::move(state);
    } catch (const std::bad_alloc&) {
        // No thread: threaded sinks are not linked.
    }
}

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
    if (!state_) return;
    std::lock_guard<std::mutex> lock(state_->guard);
    for (auto& d : state_->spares)
        if (spare_.size() < kMaxSpares) spare_.push_back(std::move(d));
    state_->spares.clear();
}

void TClientDelivery::BeginBatch() {
    // An idle pass makes no callback: what it has in hand is enough, and the lock is not taken.
    if (batching_++ == 0 && spare_.empty()) TakeSpares();
}

uint32_t TClientDelivery::Link(IUnknown* sink, REFIID iid) {
    if (!sink) return 0;
    // Proxies, and objects that marshal themselves, answer IMarshal without calling anybody.
    IMarshal* marshal = nullptr;
    const bool threaded = SUCCEEDED(sink->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal))) && marshal;
    if (marshal) marshal->Release();
    try {
        if (!threaded) {
            direct_.emplace(nextLink_ + 1, TDirectLink{sink, iid});
            return ++nextLink_;
        }
        // The client is inside its Advise: it answers the query and the marshaling's calls now.
        IUnknown* itf = nullptr;
        if (FAILED(sink->QueryInterface(iid, reinterpret_cast<void**>(&itf))) || !itf) return 0;
        IStream* marshaled = nullptr;
        const HRESULT hr = CoMarshalInterThreadInterfaceInStream(iid, itf, &marshaled);
        itf->Release();
        if (FAILED(hr)) return 0;
        StartThread();
        if (state_) {
            std::lock_guard<std::mutex> lock(state_->guard);
            state_->links.emplace(nextLink_ + 1, TDeliveryState::TLink{iid, marshaled, nullptr, S_OK, false});
            return ++nextLink_;
        }
        DropMarshaled(marshaled);
    } catch (const std::bad_alloc&) {
        // Not linked: the sink gets no callbacks.
    }
    return 0;
}

void TClientDelivery::Unlink(uint32_t link) {
    if (direct_.erase(link) || !state_) return;
    held_.erase(std::remove_if(held_.begin(), held_.end(),
                               [link](const std::unique_ptr<TDelivery>& d) { return d->Link == link; }),
                held_.end());
    {
        std::lock_guard<std::mutex> lock(state_->guard);
        const auto it = state_->links.find(link);
        if (it == state_->links.end()) return;
        it->second.unlinked = true;
        state_->queue.Drop(link);
    }
    SetEvent(state_->wake);  // to let go of the sink
}

bool TClientDelivery::Reaches(uint32_t link) const {
    const auto direct = direct_.find(link);
    if (direct == direct_.end()) return link != 0 && state_;
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
    if (!state_) return false;
    d->Link = link;
    if (batching_ > 0) {
        held_.push_back(std::move(d));
        return true;
    }
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(state_->guard);
        state_->queue.Push(std::move(d));
        wake = std::exchange(state_->waiting, false);
    }
    if (wake) SetEvent(state_->wake);
    return true;
}

void TClientDelivery::EndBatch(bool wakeNow) {
    if (batching_ > 0 && --batching_ > 0) return;
    if (held_.empty() || !state_) return;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(state_->guard);
        for (auto& d : held_) state_->queue.Push(std::move(d));
        wake = std::exchange(state_->waiting, false);
    }
    held_.clear();
    if (!wake) return;
    try {
        TWakeChain& chain = WakeChain();
        std::lock_guard<std::mutex> lock(chain.guard);
        chain.waiting.push_back(state_);
    } catch (const std::bad_alloc&) {
        SetEvent(state_->wake);
        return;
    }
    if (wakeNow) WakeNext();
}

void WakeDeliveryThreads() { WakeNext(); }

bool TClientDelivery::Lost(ULONGLONG nowMs, ULONGLONG limitMs) const {
    if (!state_) return false;
    if (state_->gone) return true;
    const ULONGLONG started = state_->callStarted;
    return started != 0 && nowMs > started && nowMs - started > limitMs;
}

void TClientDelivery::Abandon(std::vector<IUnknown*> sinks) {
    if (state_) {
        state_->gone = true;
        LetGoElsewhere(std::move(sinks));
    } else {
        for (IUnknown* sink : sinks) sink->Release();  // in-process sinks only
    }
    Stop();
}

void TClientDelivery::Stop() {
    held_.clear();
    spare_.clear();
    direct_.clear();
    if (!state_) return;
    bool busy = false;
    {
        std::lock_guard<std::mutex> lock(state_->guard);
        state_->stopping = true;
        state_->queue.Clear();
        busy = state_->busy;
    }
    SetEvent(state_->wake);
    if (busy) CancelCallOf(state_->threadId);
    if (!busy) WaitForSingleObject(thread_, kStopWaitMs);
    // A thread still running holds the state and ends by itself.
    CloseHandle(thread_);
    thread_ = nullptr;
    state_.reset();
}

bool TClientDelivery::Idle() const {
    if (!held_.empty()) return false;
    if (!state_) return true;
    std::lock_guard<std::mutex> lock(state_->guard);
    return state_->queue.Empty() && !state_->busy;
}

}  // namespace tw::opc
