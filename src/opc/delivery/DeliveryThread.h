// One client's delivery thread, and what it shares with the client's TClientDelivery on the main
// thread (ClientDelivery.h). The main thread hands over links, unlinks and deliveries; the thread
// owns the sinks it unmarshals (its apartment's proxies: they are used and released only there)
// and answers with delivered payloads for reuse, with the lost client, and with the main thread's
// references to a cut-off client's sinks, given back once the client has answered.
//
// While it has nothing to deliver, the thread asks the client every few seconds for an interface
// none of its sinks has: a call the client's process must answer, so that a client that vanished
// is found even when none of its values changes. A call under way (a callback or such a query) is
// what Lost measures.
//
// The thread holds this object to its end. Stop never waits for a thread inside a call: that one
// ends by itself when (if ever) the call returns.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "opc/delivery/Delivery.h"
#include "opc/delivery/DeliveryQueue.h"
#include "opc/delivery/SinkRelease.h"
#include "opc/delivery/WakeChain.h"

namespace tw::opc {

class TDeliveryThread final : public TSleeper, public std::enable_shared_from_this<TDeliveryThread> {
public:
    // Null when no thread can be started.
    static std::shared_ptr<TDeliveryThread> Start();
    ~TDeliveryThread() override;
    TDeliveryThread(const TDeliveryThread&) = delete;
    TDeliveryThread& operator=(const TDeliveryThread&) = delete;

    // ---- main thread ----
    // The thread takes over a link's sink, marshaled for it; false once the thread is stopping
    // (marshaled is then still the caller's).
    bool AddLink(uint32_t link, REFIID iid, IStream* marshaled);
    // The link's undelivered deliveries are dropped and its sink let go of; a failure of a call under
    // way to it no longer counts against the client.
    void Unlink(uint32_t link);
    // One delivery, the thread woken for it.
    void Queue(std::unique_ptr<TDelivery> d);
    // The deliveries of a pass (the vector is emptied); a sleeping thread waits for the wake chain.
    void QueueBatch(std::vector<std::unique_ptr<TDelivery>>& batch);
    // Delivered payloads for reuse, up to max in all.
    void TakeSpares(std::vector<std::unique_ptr<TDelivery>>& into, std::size_t max);
    bool Lost(ULONGLONG nowMs, ULONGLONG limitMs) const;
    // The client is cut off: it gets nothing more; refs go back to the main thread once it answered.
    void Abandon(TMainThreadRefs refs);
    // Drops what is undelivered and lets the thread end: waits a moment for an idle one; one inside
    // a call is cancelled where the system can, and never waited for.
    void Stop();
    bool Idle() const;

    // TSleeper: any thread.
    bool WakeIfAsleep() override;

private:
    friend class TDeliveryWorker;
    TDeliveryThread();
    void Wake();

    struct TNewLink {
        uint32_t link;
        IID iid;
        IStream* marshaled;
    };

    mutable std::mutex guard_;
    HANDLE wake_ = nullptr;    // auto-reset
    HANDLE handle_ = nullptr;  // the thread
    DWORD threadId_ = 0;
    TDeliveryQueue queue_;
    std::vector<TNewLink> added_;      // for the thread to take over
    std::vector<uint32_t> unlinked_;   // for the thread to let go of
    std::vector<std::unique_ptr<TDelivery>> spares_;  // delivered, for the main thread to reuse
    TMainThreadRefs mainRefs_;         // a cut-off client's, until it has answered
    bool stopping_ = false;
    bool asleep_ = false;              // waiting for work, not woken since
    bool busy_ = false;                // a call to the client is under way
    std::atomic<bool> gone_{false};
    std::atomic<ULONGLONG> callStarted_{0};  // tick of the call under way, 0 when none
};

}  // namespace tw::opc
