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
#include <thread>
#include <utility>
#include <vector>

namespace tw::test {

using TRequest = std::array<uint8_t, 12>;
using TBytes = std::vector<uint8_t>;

struct TReplyStep {
    TReplyStep(TBytes bytes, int delayMs = 0, std::function<void()> holdBack = {})
        : Bytes(std::move(bytes)), DelayMs(delayMs), HoldBack(std::move(holdBack)) {}
    TBytes Bytes;
    int DelayMs;                     // pause before these bytes go out
    std::function<void()> HoldBack;  // when set, runs before the pause: the test decides when they go
};

// What the server does with one request: send the steps in order (none: stay silent), then maybe hang up.
struct TReply {
    std::vector<TReplyStep> Steps;
    bool Close = false;
};

TReply Send(TBytes bytes);
TReply Silence();
TReply HangUp();

// A whole answer frame: MBAP header (transaction 0, protocol 0, length) and the given unit, function and data.
TBytes Frame(uint8_t unit, uint8_t function, const TBytes& data);
TBytes RegisterAnswer(uint8_t unit, const std::vector<uint16_t>& values);
TBytes EchoAnswer(const TRequest& request);

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

class TScriptedServer {
public:
    using THandler = std::function<TReply(const TRequest& request)>;

    explicit TScriptedServer(THandler handler);
    // A device that accepts late: its listener's queue is filled at once, so that further connects get
    // no answer, and emptied acceptAfterMs later. The system retries an unanswered connect only after
    // a second or more, so a client's handshake completes some time after that.
    TScriptedServer(THandler handler, int acceptAfterMs);
    ~TScriptedServer();
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    int Port() const { return Listener.Port(); }
    std::vector<TRequest> Requests() const;
    int Connections() const { return Accepted.load(); }
    int StepsSent() const { return Sent.load(); }

private:
    void AcceptLoop();
    void Serve(TTcpSocket connection);
    void FillQueue();

    THandler Handler;
    TTcpListener Listener;
    std::atomic<bool> Stopping{false};
    std::atomic<int> Accepted{0};
    std::atomic<int> Sent{0};
    std::chrono::steady_clock::time_point AcceptFrom;
    std::vector<TTcpSocket> Queued;  // our own connects that fill the listener's queue
    mutable std::mutex Guard;
    std::vector<TRequest> Received;
    std::list<std::thread> Sessions;  // guarded by Guard
    std::thread Acceptor;
};

}  // namespace tw::test
