// A Modbus TCP peer on loopback whose every answer is scripted by the test.
#pragma once

#include "modbus/TcpListener.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace tw::test {

// A request as received: 12 bytes, and for Write Multiple Registers (function 16) the byte count and
// values after them, up to the size of the array; the rest stays zero.
using TRequest = std::array<uint8_t, 32>;
using TBytes = std::vector<uint8_t>;

struct TReplyStep {
    TReplyStep(TBytes bytes, int delayMs = 0, std::function<void()> holdBack = {})
        : Bytes(std::move(bytes)), DelayMs(delayMs), HoldBack(std::move(holdBack)) {}
    TBytes Bytes;
    int DelayMs;                     // pause before these bytes go out
    std::function<void()> HoldBack;  // when set, runs before the pause: the test decides when they go
};

// What the server does with one request: send the steps in order (none: stay silent), or again and again
// until the client goes away; then maybe hang up, orderly or with a reset. Every frame in the steps goes
// out with the request's transaction identifier.
struct TReply {
    std::vector<TReplyStep> Steps;
    bool Close = false;
    bool Reset = false;
    bool Endless = false;
};

TReply Send(TBytes bytes);
TReply Silence();
TReply HangUp();

// A whole answer frame: MBAP header (protocol 0, length; the transaction identifier is the request's) and
// the given unit, function and data.
TBytes Frame(uint8_t unit, uint8_t function, const TBytes& data);
TBytes RegisterAnswer(uint8_t unit, const std::vector<uint16_t>& values);
TBytes EchoAnswer(const TRequest& request);
TBytes Concat(TBytes first, const TBytes& second);

class TScriptedServer;

// Waits until the condition holds; false when it still does not after timeoutMs.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A handler that gives the replies in order, one per request, and silence after the last.
std::function<TReply(const TRequest&)> Sequence(std::vector<TReply> replies);

// Connects to the loopback listener on port until its accept queue is full, keeping the connections in
// into: further connects then get no answer. False when the queue never filled.
bool FillAcceptQueue(int port, std::vector<TTcpSocket>& into);

// How long a late-accepting server keeps connects waiting.
struct TAcceptAfter {
    int Ms;
};

class TScriptedServer {
public:
    using THandler = std::function<TReply(const TRequest& request)>;

    // Port 0 lets the system pick one.
    explicit TScriptedServer(THandler handler, int port = 0);
    // A device that accepts late: its listener's queue is filled at once, so that further connects get
    // no answer, and emptied acceptAfter.Ms later. The system retries an unanswered connect only after
    // a second or more, so a client's handshake completes some time after that.
    TScriptedServer(THandler handler, TAcceptAfter acceptAfter);
    ~TScriptedServer();
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    int Port() const { return BoundPort; }
    std::vector<TRequest> Requests() const;
    int Connections() const { return Accepted.load(); }
    int StepsSent() const { return Sent.load(); }
    // While refusing, nothing listens on the port, so connects are refused. True once that holds (false
    // when the port could not be had back within seconds). Give such a server a port outside the
    // system's range for outgoing connections: a client that tries again and again could otherwise be
    // given the port as its own and connect to itself.
    bool Refuse(bool refusing);

private:
    struct TSession {
        std::thread Thread;
        std::atomic<bool> Done{false};
    };
    void AcceptLoop();
    void Serve(TTcpSocket connection);
    void FillQueue();

    THandler Handler;
    std::optional<TTcpListener> Listener;  // the acceptor's alone after construction
    int BoundPort = 0;
    std::atomic<bool> Stopping{false};
    std::atomic<bool> Refusing{false};
    std::atomic<bool> Listening{true};
    std::atomic<int> Accepted{0};
    std::atomic<int> Sent{0};
    std::chrono::steady_clock::time_point AcceptFrom;
    std::vector<TTcpSocket> Queued;  // our own connects that fill the listener's queue
    mutable std::mutex Guard;
    std::vector<TRequest> Received;
    std::list<TSession> Sessions;  // guarded by Guard; finished ones are joined as new ones come
    std::thread Acceptor;
};

}  // namespace tw::test
