#include "opc/delivery/DeliveryThread.h"

#include <algorithm>
#include <map>
#include <new>
#include <utility>

#include "opc/delivery/CallCancel.h"
#include "opc/delivery/CallOutcome.h"
#include "opc/delivery/ClientDelivery.h"
#include "opc/delivery/ClientWatch.h"

namespace tw::opc {
namespace {

// Long enough for an idle thread to let go of a healthy client's sinks; a thread inside a call is
// never waited for.
constexpr DWORD kStopWaitMs = 200;
// Delivered callbacks kept for reuse: more than one update pass makes for a client with many groups.
constexpr std::size_t kMaxSpares = 32;
// How long a thread waits with nothing to deliver before it asks its client whether it is there.
std::atomic<DWORD> probeIntervalMs{kClientProbeIntervalMs};
// An interface no sink has: asking a proxy for it always reaches the client's process. A vanished
// process fails the question with an RPC error on Windows; Wine's proxies answer E_NOINTERFACE then too.
const IID kProbeIid = {0xf6fa6333, 0xe729, 0x44e2, {0xbd, 0x89, 0x89, 0xe7, 0x4a, 0x42, 0x1e, 0xba}};

// One sink as its thread holds it: marshaled until it is first needed, then the thread's own
// interface (a proxy of its apartment), released by the thread that owns it.
class TThreadSink {
public:
    TThreadSink(REFIID iid, IStream* marshaled) : iid_(iid), marshaled_(marshaled) {}
    TThreadSink(TThreadSink&& other) noexcept
        : iid_(other.iid_),
          marshaled_(std::exchange(other.marshaled_, nullptr)),
          sink_(std::exchange(other.sink_, nullptr)),
          gone_(other.gone_) {}
    TThreadSink& operator=(TThreadSink&&) = delete;
    ~TThreadSink() {
        if (sink_) sink_->Release();
        if (marshaled_) DropMarshaled(marshaled_);
    }

    // The interface to call, or null with the unmarshaling's failure (the sink is then gone).
    IUnknown* Sink(HRESULT& failed) {
        failed = S_OK;
        if (!marshaled_) return sink_;
        failed = CoGetInterfaceAndReleaseStream(std::exchange(marshaled_, nullptr), iid_, reinterpret_cast<void**>(&sink_));
        if (FAILED(failed) || !sink_) {
            sink_ = nullptr;
            gone_ = true;
        }
        return sink_;
    }
    bool Gone() const { return gone_; }
    void MarkGone() { gone_ = true; }

private:
    IID iid_;
    IStream* marshaled_;
    IUnknown* sink_ = nullptr;
    bool gone_ = false;
};

DWORD WINAPI DeliveryThreadProc(void* param);

}  // namespace

void SetClientProbeInterval(DWORD ms) { probeIntervalMs = ms; }

// The thread's side. It alone holds the sinks it took over, so it alone uses and lets go of them.
class TDeliveryWorker {
public:
    explicit TDeliveryWorker(std::shared_ptr<TDeliveryThread> shared) : s_(std::move(shared)) {}
    void Run();

private:
    using TSinks = std::map<uint32_t, TThreadSink>;  // by link, in the order they were linked

    // Under the lock: takes over new links and moves unlinked ones to letGo (released outside the lock).
    void TakeLinks(TSinks& letGo);
    void Deliver(std::unique_ptr<TDelivery> d);
    void ProbeWhileIdle();
    // Asks the client, through its first sink that answers as a sink, for an interface none has.
    void Probe();
    // A call to the client, timed for Lost.
    template <class Call>
    HRESULT Timed(Call call) {
        s_->callStarted_ = std::max<ULONGLONG>(GetTickCount64(), 1);
        const HRESULT hr = call();
        s_->callStarted_ = 0;
        return hr;
    }
    // Under the lock, after a call to link: a sink that is gone gets nothing more, a client that is
    // gone is reported.
    void Judge(uint32_t link, HRESULT hr);
    // The main thread's references to a cut-off client's sinks go back once the client has answered
    // a call (a probe), so that releasing them does not wait for it.
    void GiveBackMainRefs();

    const std::shared_ptr<TDeliveryThread> s_;
    TSinks sinks_;
};

void TDeliveryWorker::Run() {
    TDeliveryThread& s = *s_;
    TSinks letGo;
    for (;;) {
        std::unique_ptr<TDelivery> d;
        bool stop = false;
        {
            std::lock_guard<std::mutex> lock(s.guard_);
            s.busy_ = false;
            s.asleep_ = false;
            TakeLinks(letGo);
            stop = s.stopping_;
            if (!stop) {
                d = s.queue_.Pop();
                s.busy_ = d != nullptr;
                s.asleep_ = d == nullptr;
            }
        }
        letGo.clear();  // a release may call the client
        if (stop) break;
        if (d) {
            Deliver(std::move(d));
        } else if (WaitForSingleObject(s.wake_, probeIntervalMs) == WAIT_OBJECT_0) {
            DeliveryWakeChain().WakeNext();
        } else {
            ProbeWhileIdle();
        }
    }
    GiveBackMainRefs();
}

void TDeliveryWorker::TakeLinks(TSinks& letGo) {
    TDeliveryThread& s = *s_;
    try {
        while (!s.added_.empty()) {
            const TDeliveryThread::TNewLink& added = s.added_.front();
            sinks_.try_emplace(added.link, added.iid, added.marshaled);
            s.added_.erase(s.added_.begin());  // taken: the sink is ours
        }
    } catch (const std::bad_alloc&) {
        // What finds no room is taken in a later round.
    }
    for (uint32_t link : s.unlinked_) {
        auto node = sinks_.extract(link);
        if (!node.empty()) letGo.insert(std::move(node));
    }
    s.unlinked_.clear();
}

void TDeliveryWorker::Deliver(std::unique_ptr<TDelivery> d) {
    TDeliveryThread& s = *s_;
    const uint32_t link = d->Link;
    const auto it = sinks_.find(link);
    // A vanished client, or a sink that is gone, gets nothing more.
    const bool call = it != sinks_.end() && !it->second.Gone() && !s.gone_;
    HRESULT hr = S_OK;
    if (call) {
        IUnknown* sink = it->second.Sink(hr);
        if (sink) hr = Timed([&] { return d->Call(sink); });
    }
    d->Items.Reset(0);  // the values go here, in the thread that made the call
    {
        std::lock_guard<std::mutex> lock(s.guard_);
        try {
            if (s.spares_.size() < kMaxSpares) s.spares_.push_back(std::move(d));
        } catch (const std::bad_alloc&) {
            // Not kept for reuse: it goes below.
        }
        if (call) Judge(link, hr);
    }
    d.reset();
}

void TDeliveryWorker::ProbeWhileIdle() {
    TDeliveryThread& s = *s_;
    bool woken = false;
    bool probe = false;
    {
        std::lock_guard<std::mutex> lock(s.guard_);
        woken = !s.asleep_;
        s.asleep_ = false;
        probe = s.busy_ = !woken && !s.stopping_ && !s.gone_;
    }
    // Woken as the wait ran out: the chain goes on from here.
    if (woken) DeliveryWakeChain().WakeNext();
    if (probe) Probe();
}

void TDeliveryWorker::Probe() {
    for (auto& [link, sink] : sinks_) {
        if (sink.Gone()) continue;
        HRESULT hr = S_OK;
        IUnknown* itf = sink.Sink(hr);
        if (itf) {
            IUnknown* probed = nullptr;
            hr = Timed([&] { return itf->QueryInterface(kProbeIid, reinterpret_cast<void**>(&probed)); });
            if (SUCCEEDED(hr) && probed) probed->Release();
        }
        {
            std::lock_guard<std::mutex> lock(s_->guard_);
            Judge(link, hr);
        }
        if (itf && OutcomeOf(hr) != TCallOutcome::SinkGone) return;
    }
}

void TDeliveryWorker::Judge(uint32_t link, HRESULT hr) {
    TDeliveryThread& s = *s_;
    // A sink unadvised meanwhile may be gone for good reason: the client let go of it.
    if (s.stopping_ || std::find(s.unlinked_.begin(), s.unlinked_.end(), link) != s.unlinked_.end()) return;
    switch (OutcomeOf(hr)) {
    case TCallOutcome::SinkGone:
        sinks_.at(link).MarkGone();
        s.queue_.Drop(link);
        break;
    case TCallOutcome::ClientGone:
        if (!s.gone_.exchange(true)) ReportLostClient();
        break;
    case TCallOutcome::Answered: break;
    }
}

void TDeliveryWorker::GiveBackMainRefs() {
    TMainThreadRefs refs;
    {
        std::lock_guard<std::mutex> lock(s_->guard_);
        refs = std::move(s_->mainRefs_);
    }
    if (!refs.Empty()) Probe();
}  // refs go back here

namespace {

DWORD WINAPI DeliveryThreadProc(void* param) {
    const std::unique_ptr<std::shared_ptr<TDeliveryThread>> handed(static_cast<std::shared_ptr<TDeliveryThread>*>(param));
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CoEnableCallCancellation(nullptr);
    {
        TDeliveryWorker worker(std::move(*handed));
        worker.Run();
    }  // its sinks are let go of here, in their apartment
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

}  // namespace

TDeliveryThread::TDeliveryThread() : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

TDeliveryThread::~TDeliveryThread() {
    if (wake_) CloseHandle(wake_);
    if (handle_) CloseHandle(handle_);
}

std::shared_ptr<TDeliveryThread> TDeliveryThread::Start() {
    try {
        std::shared_ptr<TDeliveryThread> thread(new TDeliveryThread);
        if (!thread->wake_) return nullptr;
        auto* handed = new std::shared_ptr<TDeliveryThread>(thread);
        thread->handle_ = CreateThread(nullptr, 0, DeliveryThreadProc, handed, 0, &thread->threadId_);
        if (!thread->handle_) {
            delete handed;
            return nullptr;
        }
        return thread;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool TDeliveryThread::AddLink(uint32_t link, REFIID iid, IStream* marshaled) {
    std::lock_guard<std::mutex> lock(guard_);
    if (stopping_) return false;
    try {
        added_.push_back(TNewLink{link, iid, marshaled});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void TDeliveryThread::Unlink(uint32_t link) {
    {
        std::lock_guard<std::mutex> lock(guard_);
        queue_.Drop(link);
        try {
            unlinked_.push_back(link);
        } catch (const std::bad_alloc&) {
            // The thread keeps the sink until it ends.
        }
    }
    WakeIfAsleep();  // to let go of the sink
}

void TDeliveryThread::Queue(std::unique_ptr<TDelivery> d) {
    {
        std::lock_guard<std::mutex> lock(guard_);
        queue_.Push(std::move(d));
    }
    WakeIfAsleep();
}

void TDeliveryThread::QueueBatch(std::vector<std::unique_ptr<TDelivery>>& batch) {
    bool asleep = false;
    {
        std::lock_guard<std::mutex> lock(guard_);
        for (auto& d : batch) queue_.Push(std::move(d));
        asleep = asleep_;
    }
    batch.clear();
    if (!asleep) return;  // it finds them before it sleeps again
    try {
        DeliveryWakeChain().Add(shared_from_this());
    } catch (const std::bad_alloc&) {
        WakeIfAsleep();
    }
}

void TDeliveryThread::TakeSpares(std::vector<std::unique_ptr<TDelivery>>& into, std::size_t max) {
    std::lock_guard<std::mutex> lock(guard_);
    for (auto& d : spares_)
        if (into.size() < max) into.push_back(std::move(d));
    spares_.clear();
}

bool TDeliveryThread::Lost(ULONGLONG nowMs, ULONGLONG limitMs) const {
    if (gone_) return true;
    const ULONGLONG started = callStarted_;
    return started != 0 && nowMs > started && nowMs - started > limitMs;
}

void TDeliveryThread::Abandon(TMainThreadRefs refs) {
    gone_ = true;
    std::lock_guard<std::mutex> lock(guard_);
    mainRefs_ = std::move(refs);
}

void TDeliveryThread::Stop() {
    bool busy = false;
    {
        std::lock_guard<std::mutex> lock(guard_);
        stopping_ = true;
        queue_.Clear();
        busy = busy_;
    }
    SetEvent(wake_);
    if (busy)
        CancelCallOf(threadId_);
    else
        WaitForSingleObject(handle_, kStopWaitMs);
}

bool TDeliveryThread::Idle() const {
    std::lock_guard<std::mutex> lock(guard_);
    return queue_.Empty() && !busy_;
}

bool TDeliveryThread::WakeIfAsleep() {
    {
        std::lock_guard<std::mutex> lock(guard_);
        if (!asleep_) return false;
        asleep_ = false;
    }
    SetEvent(wake_);
    return true;
}

}  // namespace tw::opc
