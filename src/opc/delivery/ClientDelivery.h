// One client's callbacks (one per server object): a queue and the thread that empties it, so that a
// slow, hung or vanished client delays nobody but itself.
//
// A sink that is a proxy (every remote client's) or marshals itself is called by the delivery
// thread (DeliveryThread.h), in the multithreaded apartment. The update pass only queues what it
// made, so a client that calls in from a callback reaches the main thread between passes and never
// re-enters one. An ordinary object of the server's own apartment (an in-process sink) is called at
// once on the main thread, as the pass always did, and may call back in during the call.
//
// A threaded sink's interface is asked for and marshaled when the sink is linked, during the
// client's Advise (the client answers then, and may be cut off meanwhile); the thread unmarshals it
// once, calls it, and lets go of it. A call whose result says that the client's process is gone
// marks the client lost, and the main thread cuts it off (CutOffLostClients); so it does for a call
// under way longer than the limit. A result that says only that one sink object is gone ends the
// callbacks to that sink (CallOutcome.h). A client with nothing to deliver is asked every few
// seconds whether it is still there.
//
// Each reference to a sink is released in the apartment that holds it: the thread's on the thread;
// the main thread's (its connection points') on the main thread, and for a cut-off client only once
// it has answered a call (SinkRelease.h), so no release waits for a hung client.
//
// Stop, when the server object goes (its client let go, the process ends, or the client is cut
// off), drops what is undelivered, waits a moment for an idle thread to let go of its sinks and end,
// and never waits for one inside a call to the client: that one is left to end by itself, holding
// its state and every sink it still has, when (if ever) the call returns; where the system can
// cancel the call it is cancelled (CallCancel.h). The close's shutdown requests travel the same way,
// so a hung client holds the close only for the close's own wait; at the process's end every server
// object is cut off, and a hung client's sinks are never released (MainApartmentMayEnd).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "opc/delivery/Delivery.h"

namespace tw::opc {

class TDeliveryThread;

// Wakes the threads whose batches were handed over with wakeNow false (WakeChain.h).
void WakeDeliveryThreads();
// How long a delivery thread with nothing to deliver waits before it asks its client whether it is
// still there; tests shorten it.
constexpr DWORD kClientProbeIntervalMs = 5000;
void SetClientProbeInterval(DWORD ms);

class TClientDelivery {
public:
    TClientDelivery() = default;
    ~TClientDelivery() { Stop(); }
    TClientDelivery(const TClientDelivery&) = delete;
    TClientDelivery& operator=(const TClientDelivery&) = delete;

    // A delivery to fill and Send: one whose callback was made, when there is one, so that the update
    // pass reuses the memory of its arrays.
    std::unique_ptr<TDelivery> Make(TDeliveryKind kind, OPCHANDLE group, DWORD transactionId, OPCHANDLE clientGroup,
                                    std::size_t count);
    // Links sink for callbacks through iid (IID_IOPCDataCallback, IID_IOPCShutdown): the id to send
    // to, or 0 when a threaded sink does not answer iid or this object was stopped meanwhile. A
    // threaded sink is called while it is linked: this object may end during the call (Link then
    // uses only what it holds), the caller holds sink.
    uint32_t Link(IUnknown* sink, REFIID iid);
    // The link's undelivered deliveries are dropped and its sink let go; a failure of a call under
    // way to it no longer counts against the client.
    void Unlink(uint32_t link);
    bool Direct(uint32_t link) const { return direct_.count(link) != 0; }
    // Whether a callback sent to the link can be made: an in-process sink is asked for its interface
    // now; a threaded one was asked when it was linked.
    bool Reaches(uint32_t link) const;
    // An in-process sink is called now (false when it does not answer the link's interface); a
    // threaded one gets d queued, or held until EndBatch. Nothing of this object is used after an
    // in-process call, which may end the server object.
    bool Send(uint32_t link, std::unique_ptr<TDelivery> d);
    // Between the two, threaded deliveries wait to be handed over together (one update pass); the
    // pairs nest. wakeNow false: the thread is woken with the others by WakeDeliveryThreads.
    void BeginBatch();
    void EndBatch(bool wakeNow = true);

    // The client is gone (a call failed as only a vanished client's calls fail), or one call to it
    // has been under way for longer than limitMs.
    bool Lost(ULONGLONG nowMs, ULONGLONG limitMs) const;
    // The client is being cut off: nothing more is sent, and its sinks (the main thread's references)
    // are released on the main thread once the client has answered a call, never here: releasing a
    // hung client's proxy waits for the client.
    void Abandon(std::vector<IUnknown*> sinks);
    // Undelivered deliveries are dropped; bounded (see above). Nothing is linked or sent afterwards.
    // Idempotent.
    void Stop();

    // Nothing queued, held or under way (tests and benchmarks wait for it: FlushDeliveries).
    bool Idle() const;

private:
    // Takes what the thread has delivered since, for Make.
    void TakeSpares();

    struct TDirectLink {
        IUnknown* sink;  // held by the connection point that linked it
        IID iid;
    };
    std::unordered_map<uint32_t, TDirectLink> direct_;
    uint32_t nextLink_ = 0;
    int batching_ = 0;
    std::vector<std::unique_ptr<TDelivery>> held_;
    std::vector<std::unique_ptr<TDelivery>> spare_;  // delivered, for Make
    std::shared_ptr<TDeliveryThread> thread_;  // once a threaded sink was linked
    bool stopped_ = false;
};

}  // namespace tw::opc
