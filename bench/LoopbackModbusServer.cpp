#include "LoopbackModbusServer.h"

#include <cstdint>

namespace tw::bench {

TLoopbackModbusServer::TLoopbackModbusServer() {
    Acceptor = std::thread([this] {
        while (!Stopping) {
            TTcpSocket connection;
            if (!Listener.Accept(connection, 50)) continue;
            std::lock_guard<std::mutex> lock(Guard);
            Sessions.emplace_back([this, c = std::move(connection)]() mutable { Serve(std::move(c)); });
        }
    });
}

TLoopbackModbusServer::~TLoopbackModbusServer() {
    Stopping = true;
    Acceptor.join();
    for (auto& session : Sessions) session.join();
}

void TLoopbackModbusServer::Serve(TTcpSocket connection) {
    uint8_t request[12];
    uint8_t answer[11] = {0, 0, 0, 0, 0, 5};
    try {
        for (;;) {
            for (std::size_t got = 0; got < sizeof request;) {
                while (!connection.WaitReadable(50))
                    if (Stopping) return;
                got += connection.Receive(request + got, sizeof request - got);
            }
            answer[0] = request[0];  // libmodbus matches answers by transaction identifier
            answer[1] = request[1];
            answer[6] = request[6];
            answer[7] = request[7];
            // One register holds its own address; one coil is on at odd addresses.
            if (request[7] == 1) {
                answer[5] = 4;
                answer[8] = 1;
                answer[9] = request[9] & 1;
                connection.Send(answer, 10);
            } else {
                answer[5] = 5;
                answer[8] = 2;
                answer[9] = request[8];
                answer[10] = request[9];
                connection.Send(answer, 11);
            }
            Served.fetch_add(1, std::memory_order_relaxed);
        }
    } catch (const ESocketError&) {
        // client gone
    }
}

}  // namespace tw::bench
