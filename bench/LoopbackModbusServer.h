// A small, fast Modbus TCP server on loopback for the benchmarks: answers reads of holding
// registers and coils from fixed values, one thread per connection. It can be told to answer after
// a delay, as devices on a plant network do, and to go away and come back.
#pragma once

#include "modbus/TcpListener.h"

#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace tw::bench {

class TLoopbackModbusServer {
public:
    TLoopbackModbusServer();
    ~TLoopbackModbusServer();
    int Port() const { return Listener.Port(); }
    long Requests() const { return Served.load(std::memory_order_relaxed); }
    void SetAnswerDelay(std::chrono::microseconds delay) { DelayUs = delay.count(); }

    // Drops every connection and takes no new one: with the system's queue of connections waiting to
    // be accepted filled up, a connect gets no answer at all, as from a host that is gone.
    void GoAway();
    // Takes connections again.
    void ComeBack();

private:
    void Serve(TTcpSocket connection, long generation);

    TTcpListener Listener;
    std::atomic<bool> Stopping{false};
    std::atomic<bool> Away{false};
    std::atomic<long> Generation{0};  // a session of an earlier generation hangs up
    std::atomic<long> Served{0};
    std::atomic<long long> DelayUs{0};
    std::vector<TTcpSocket> Waiting;  // fill the queue while away; owner's thread only
    std::mutex Guard;
    std::list<std::thread> Sessions;
    std::thread Acceptor;
};

}  // namespace tw::bench
