// Debian's pymodbus as a real Modbus TCP server on loopback (host only: it is a Linux program).
// Holding register at address a holds a; the coil at address a is on when a is even.
#pragma once

#include <sys/types.h>

namespace tw::test {

class TPymodbusServer {
public:
    // Starts the server and waits for the port it reports; Port() is 0 when it did not start.
    TPymodbusServer();
    // Stops the server by its process id.
    ~TPymodbusServer();
    TPymodbusServer(const TPymodbusServer&) = delete;
    TPymodbusServer& operator=(const TPymodbusServer&) = delete;

    int Port() const { return ServerPort; }

private:
    pid_t Pid = -1;
    int ServerPort = 0;
};

}  // namespace tw::test
