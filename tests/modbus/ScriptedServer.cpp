#include "ScriptedServer.h"

#include <algorithm>
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

TBytes EchoAnswer(const TRequest& request) {
    // Writes of one value echo the request; function 16 echoes its address and quantity.
    TBytes echo(request.begin(), request.begin() + 12);
    echo[4] = 0;
    echo[5] = 6;
    return echo;
}

TBytes Concat(TBytes first, const TBytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

namespace {
// Every frame of a reply gets the request's transaction identifier, as a device echoes it. The frames
// are found by their length fields across the steps, so a reply cut into any steps is stamped alike.
std::vector<TReplyStep> EchoTransactionId(std::vector<TReplyStep> steps, const TRequest& request) {
    TBytes all;
    for (const TReplyStep& step : steps) all.insert(all.end(), step.Bytes.begin(), step.Bytes.end());
    for (std::size_t at = 0; at + 7 <= all.size(); at += 6 + ((all[at + 4] << 8) | all[at + 5])) {
        all[at] = request[0];
        all[at + 1] = request[1];
    }
    auto next = all.begin();
    for (TReplyStep& step : steps) {
        std::copy_n(next, step.Bytes.size(), step.Bytes.begin());
        next += static_cast<std::ptrdiff_t>(step.Bytes.size());
    }
    return steps;
}
}  // namespace

std::function<TReply(const TRequest&)> Sequence(std::vector<TReply> replies) {
    auto state = std::make_shared<std::pair<std::mutex, std::vector<TReply>>>();
    state->second = std::move(replies);
    return [state, next = std::make_shared<std::size_t>(0)](const TRequest&) {
        std::lock_guard<std::mutex> lock(state->first);
        return *next < state->second.size() ? state->second[(*next)++] : Silence();
    };
}

TScriptedServer::TScriptedServer(THandler handler, int port) : Handler(std::move(handler)) {
    Listener.emplace(port);
    BoundPort = Listener->Port();
    Acceptor = std::thread([this] { AcceptLoop(); });
}

TScriptedServer::TScriptedServer(THandler handler, TAcceptAfter acceptAfter) : Handler(std::move(handler)) {
    Listener.emplace(0);
    BoundPort = Listener->Port();
    FillQueue();
    AcceptFrom = std::chrono::steady_clock::now() + std::chrono::milliseconds(acceptAfter.Ms);
    Acceptor = std::thread([this] { AcceptLoop(); });
}

bool FillAcceptQueue(int port, std::vector<TTcpSocket>& into) {
    // Connects that nobody accepts queue up until the queue is full; the first that times out proves it.
    for (int i = 0; i < 256; ++i) {
        TTcpSocket socket;
        try {
            socket.Connect("127.0.0.1", port, 300);
        } catch (const ESocketError&) {
            return true;
        }
        into.push_back(std::move(socket));
    }
    return false;
}

void TScriptedServer::FillQueue() {
    if (!FillAcceptQueue(Port(), Queued)) throw ESocketError("the listener's queue never filled");
}

TScriptedServer::~TScriptedServer() {
    Stopping = true;
    Acceptor.join();
    std::lock_guard<std::mutex> lock(Guard);
    for (TSession& session : Sessions) session.Thread.join();
}

bool TScriptedServer::Refuse(bool refusing) {
    Refusing = refusing;
    for (int waited = 0; Listening == refusing; ++waited) {
        if (waited == 5000) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<TRequest> TScriptedServer::Requests() const {
    std::lock_guard<std::mutex> lock(Guard);
    return Received;
}

void TScriptedServer::AcceptLoop() {
    while (!Stopping && std::chrono::steady_clock::now() < AcceptFrom)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    while (!Stopping) {
        if (Refusing && Listener) {
            Listener.reset();
            Listening = false;
        } else if (!Refusing && !Listener) {
            try {
                Listener.emplace(BoundPort);
                Listening = true;
            } catch (const ESocketError&) {
                // someone else holds the port for the moment: try again
            }
        }
        TTcpSocket connection;
        if (!Listener) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (!Listener->Accept(connection, 5)) continue;
        ++Accepted;
        std::lock_guard<std::mutex> lock(Guard);
        Sessions.remove_if([](TSession& s) {
            if (!s.Done) return false;
            s.Thread.join();
            return true;
        });
        TSession& session = Sessions.emplace_back();
        session.Thread = std::thread([this, &session, c = std::move(connection)]() mutable {
            Serve(std::move(c));
            session.Done = true;
        });
    }
}

void TScriptedServer::Serve(TTcpSocket connection) {
    try {
        for (;;) {
            TRequest request{};
            auto receive = [&](uint8_t* into, std::size_t size) {
                for (std::size_t got = 0; got < size;) {
                    if (Stopping) return false;
                    if (connection.WaitReadable(20)) got += connection.Receive(into + got, size - got);
                }
                return true;
            };
            if (!receive(request.data(), 12)) return;
            // What the length field announces beyond the 12 bytes: kept as far as the array goes.
            const std::size_t length = static_cast<std::size_t>(request[4] << 8 | request[5]);
            for (std::size_t more = length > 6 ? length - 6 : 0, at = 12; more > 0; --more, ++at) {
                uint8_t byte = 0;
                if (!receive(&byte, 1)) return;
                if (at < request.size()) request[at] = byte;
            }
            {
                std::lock_guard<std::mutex> lock(Guard);
                Received.push_back(request);
            }
            const TReply reply = Handler(request);
            const std::vector<TReplyStep> steps = EchoTransactionId(reply.Steps, request);
            do {
                for (const TReplyStep& step : steps) {
                    if (step.HoldBack) step.HoldBack();
                    std::this_thread::sleep_for(std::chrono::milliseconds(step.DelayMs));
                    connection.Send(step.Bytes.data(), step.Bytes.size());
                    ++Sent;
                }
            } while (reply.Endless && !Stopping);
            if (reply.Reset) return connection.Abort();
            if (reply.Close) return;
        }
    } catch (const ESocketError&) {
        // the client went away: this session is over
    }
}

}  // namespace tw::test
