// A listening socket on the loopback address, for local peers (test servers, benchmarks).
#pragma once

#include "modbus/TcpSocket.h"

#include <cstdint>

namespace tw {

class TTcpListener {
public:
    // Listens on 127.0.0.1; port 0 lets the system pick a free one (see Port()).
    explicit TTcpListener(int port = 0);
    ~TTcpListener();
    TTcpListener(const TTcpListener&) = delete;
    TTcpListener& operator=(const TTcpListener&) = delete;

    int Port() const { return BoundPort; }
    // Waits up to timeoutMs for a connection; false when none came.
    bool Accept(TTcpSocket& connection, int timeoutMs);
    void Close();

private:
    std::intptr_t Handle = -1;
    int BoundPort = 0;
};

}  // namespace tw
