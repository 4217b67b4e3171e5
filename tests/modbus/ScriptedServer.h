// A Modbus TCP peer on loopback whose every answer is scripted by the test.
#pragma once

#include "modbus/TcpListener.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tw::test {

using TRequest = std::array<uint8_t, 12>;
using TBytes = std::vector<uint8_t>;

struct TReplyStep {
    TBytes Bytes;
    int DelayMs = 0;  // pause before these bytes go out
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

// A handler that gives the replies in order, one per request, and silence after the last.
std::function<TReply(const TRequest&)> Sequence(std::vector<TReply> replies);

class TScriptedServer {
public:
    using THandler = std::function<TReply(const TRequest& request)>;

    // Port 0 lets the system pick one.
    explicit TScriptedServer(THandler handler, int port = 0);
    ~TScriptedServer();
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    int Port() const { return BoundPort; }
    std::vector<TRequest> Requests() const;
    int Connections() const { return Accepted.load(); }
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

    THandler Handler;
    std::optional<TTcpListener> Listener;  // the acceptor's alone after construction
    int BoundPort = 0;
    std::atomic<bool> Stopping{false};
    std::atomic<bool> Refusing{false};
    std::atomic<bool> Listening{true};
    std::atomic<int> Accepted{0};
    mutable std::mutex Guard;
    std::vector<TRequest> Received;
    std::list<TSession> Sessions;  // guarded by Guard; finished ones are joined as new ones come
    std::thread Acceptor;
};

}  // namespace tw::test
