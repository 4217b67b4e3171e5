#include "ScriptedServer.h"

#include <chrono>
#include <memory>

namespace tw::test {

TReply Send(TBytes bytes) { return TReply{{TReplyStep{std::move(bytes), 0}}, false}; }
TReply Silence() { return TReply{}; }
TReply HangUp() { return TReply{{}, true}; }

TBytes Frame(uint8_t unit, uint8_t function, const TBytes& data) {
    const auto length = static_cast<uint16_t>(2 + data.size());
    TBytes frame{0, 0, 0, 0, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), unit, function};
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

TBytes RegisterAnswer(uint8_t unit, const std::vector<uint16_t>& values) {
    TBytes data{static_cast<uint8_t>(2 * values.size())};
    for (uint16_t v : values) {
        data.push_back(static_cast<uint8_t>(v >> 8));
        data.push_back(static_cast<uint8_t>(v));
    }
    return Frame(unit, 3, data);
}

TBytes EchoAnswer(const TRequest& request) { return TBytes(request.begin(), request.end()); }

std::function<TReply(const TRequest&)> Sequence(std::vector<TReply> replies) {
    auto state = std::make_shared<std::pair<std::mutex, std::vector<TReply>>>();
    state->second = std::move(replies);
    return [state, next = std::make_shared<std::size_t>(0)](const TRequest&) {
        std::lock_guard<std::mutex> lock(state->first);
        return *next < state->second.size() ? state->second[(*next)++] : Silence();
    };
}

TScriptedServer::TScriptedServer(THandler handler) : Handler(std::move(handler)) {
    Acceptor = std::thread([this] { AcceptLoop(); });
}

TScriptedServer::TScriptedServer(THandler handler, int acceptAfterMs) : Handler(std::move(handler)) {
    FillQueue();
    AcceptFrom = std::chrono::steady_clock::now() + std::chrono::milliseconds(acceptAfterMs);
    Acceptor = std::thread([this] { AcceptLoop(); });
}

void TScriptedServer::FillQueue() {
    // Connects that nobody accepts queue up until the queue is full; the first that times out proves it.
    for (int i = 0; i < 256; ++i) {
        TTcpSocket socket;
        try {
            socket.Connect("127.0.0.1", Port(), 300);
        } catch (const ESocketError&) {
            return;
        }
        Queued.push_back(std::move(socket));
    }
    throw ESocketError("the listener's queue never filled");
}

TScriptedServer::~TScriptedServer() {
    Stopping = true;
    Acceptor.join();
    std::lock_guard<std::mutex> lock(Guard);
    for (auto& session : Sessions) session.join();
}

std::vector<TRequest> TScriptedServer::Requests() const {
    std::lock_guard<std::mutex> lock(Guard);
    return Received;
}

void TScriptedServer::AcceptLoop() {
    while (!Stopping && std::chrono::steady_clock::now() < AcceptFrom)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    while (!Stopping) {
        TTcpSocket connection;
        if (!Listener.Accept(connection, 20)) continue;
        ++Accepted;
        std::lock_guard<std::mutex> lock(Guard);
        Sessions.emplace_back([this, c = std::move(connection)]() mutable { Serve(std::move(c)); });
    }
}

void TScriptedServer::Serve(TTcpSocket connection) {
    try {
        for (;;) {
            TRequest request{};
            for (std::size_t got = 0; got < request.size();) {
                if (Stopping) return;
                if (connection.WaitReadable(20)) got += connection.Receive(request.data() + got, request.size() - got);
            }
            {
                std::lock_guard<std::mutex> lock(Guard);
                Received.push_back(request);
            }
            const TReply reply = Handler(request);
            for (const TReplyStep& step : reply.Steps) {
                if (step.HoldBack) step.HoldBack();
                std::this_thread::sleep_for(std::chrono::milliseconds(step.DelayMs));
                connection.Send(step.Bytes.data(), step.Bytes.size());
                ++Sent;
            }
            if (reply.Close) return;
        }
    } catch (const ESocketError&) {
        // the client went away: this session is over
    }
}

}  // namespace tw::test
