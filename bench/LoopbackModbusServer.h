// A small, fast Modbus TCP server on loopback for the benchmarks: answers reads of holding
// registers and coils from fixed values, one thread per connection.
#pragma once

#include "modbus/TcpListener.h"

#include <atomic>
#include <list>
#include <mutex>
#include <thread>

namespace tw::bench {

class TLoopbackModbusServer {
public:
    TLoopbackModbusServer();
    ~TLoopbackModbusServer();
    int Port() const { return Listener.Port(); }
    long Requests() const { return Served.load(std::memory_order_relaxed); }

private:
    void Serve(TTcpSocket connection);

    TTcpListener Listener;
    std::atomic<bool> Stopping{false};
    std::atomic<long> Served{0};
    std::mutex Guard;
    std::list<std::thread> Sessions;
    std::thread Acceptor;
};

}  // namespace tw::bench
