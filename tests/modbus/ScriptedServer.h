// A Modbus TCP peer on loopback whose every answer is scripted by the test.
#pragma once

#include "modbus/TcpListener.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace tw::test {

using TRequest = std::array<uint8_t, 12>;
using TBytes = std::vector<uint8_t>;

struct TReplyStep {
    TBytes Bytes;
    int DelayMs = 0;  // pause before these bytes go out
};

// What the server does with one request: send the steps in order (none: stay silent), then maybe hang up.
// Every frame in the steps goes out with the request's transaction identifier.
struct TReply {
    std::vector<TReplyStep> Steps;
    bool Close = false;
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

    explicit TScriptedServer(THandler handler);
    ~TScriptedServer();
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    int Port() const { return Listener.Port(); }
    std::vector<TRequest> Requests() const;
    int Connections() const { return Accepted.load(); }

private:
    void AcceptLoop();
    void Serve(TTcpSocket connection);

    THandler Handler;
    TTcpListener Listener;
    std::atomic<bool> Stopping{false};
    std::atomic<int> Accepted{0};
    mutable std::mutex Guard;
    std::vector<TRequest> Received;
    std::list<std::thread> Sessions;  // guarded by Guard
    std::thread Acceptor;
};

}  // namespace tw::test
