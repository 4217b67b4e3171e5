#include "LoopbackModbusServer.h"

#include "ScriptedServer.h"

#include <algorithm>
#include <cstdint>

namespace tw::bench {

TLoopbackModbusServer::TLoopbackModbusServer() {
    Acceptor = std::thread([this] {
        while (!Stopping) {
            if (Away) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            TTcpSocket connection;
            if (!Listener.Accept(connection, 50)) continue;
            std::lock_guard<std::mutex> lock(Guard);
            Sessions.emplace_back([this, c = std::move(connection), g = Generation.load()]() mutable {
                Serve(std::move(c), g);
            });
        }
    });
}

TLoopbackModbusServer::~TLoopbackModbusServer() {
    Stopping = true;
    Acceptor.join();
    for (auto& session : Sessions) session.join();
}

void TLoopbackModbusServer::GoAway() {
    Away = true;
    ++Generation;
    test::FillAcceptQueue(Port(), Waiting);
}

void TLoopbackModbusServer::ComeBack() {
    Away = false;
    Waiting.clear();  // accepted and found closed
}

void TLoopbackModbusServer::Serve(TTcpSocket connection, long generation) {
    uint8_t request[12];
    uint8_t answer[9 + 250] = {};
    try {
        for (;;) {
            for (std::size_t got = 0; got < sizeof request;) {
                while (!connection.WaitReadable(50))
                    if (Stopping || Generation != generation) return;
                got += connection.Receive(request + got, sizeof request - got);
            }
            if (Generation != generation) return;
            const int address = (request[8] << 8) | request[9];
            const int count = std::min((request[10] << 8) | request[11], request[7] == 1 ? 2000 : 125);
            answer[0] = request[0];  // libmodbus matches answers by transaction identifier
            answer[1] = request[1];
            answer[6] = request[6];
            answer[7] = request[7];
            // A register holds its own address; a coil is on at odd addresses.
            int bytes;
            if (request[7] == 1) {
                bytes = (count + 7) / 8;
                for (int b = 0; b < bytes; ++b) answer[9 + b] = 0;
                for (int i = 0; i < count; ++i)
                    if ((address + i) & 1) answer[9 + i / 8] |= static_cast<uint8_t>(1 << (i % 8));
            } else {
                bytes = 2 * count;
                for (int i = 0; i < count; ++i) {
                    answer[9 + 2 * i] = static_cast<uint8_t>((address + i) >> 8);
                    answer[10 + 2 * i] = static_cast<uint8_t>(address + i);
                }
            }
            answer[4] = 0;
            answer[5] = static_cast<uint8_t>(3 + bytes);
            answer[8] = static_cast<uint8_t>(bytes);
            if (const long long delay = DelayUs.load()) std::this_thread::sleep_for(std::chrono::microseconds(delay));
            connection.Send(answer, static_cast<std::size_t>(9 + bytes));
            Served.fetch_add(1, std::memory_order_relaxed);
        }
    } catch (const ESocketError&) {
        // client gone
    }
}

}  // namespace tw::bench
