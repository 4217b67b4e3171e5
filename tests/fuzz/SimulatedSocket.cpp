// TTcpSocket on the simulated link: linked into the fuzz target in place of src/modbus/TcpSocket.cpp
// (the system calls), so that the client under test is the real one.
#include "SimulatedLink.h"
#include "modbus/TcpSocket.h"

namespace tw {

using fuzz::Link;

void TTcpSocket::Close() {
    if (IsOpen()) {
        Link.Close(Handle);
        Handle = InvalidHandle;
    }
}

void TTcpSocket::Connect(const std::string&, int, int timeoutMs) {
    Close();
    Handle = Link.Connect(timeoutMs);
}

void TTcpSocket::Send(const uint8_t* data, std::size_t size) {
    if (!IsOpen()) throw ESocketError("send on a closed connection");
    Link.Send(Handle, data, size);
}

bool TTcpSocket::WaitReadable(int timeoutMs) {
    if (!IsOpen()) throw ESocketError("wait on a closed connection");
    return Link.WaitReadable(Handle, timeoutMs);
}

std::size_t TTcpSocket::Receive(uint8_t* data, std::size_t size) {
    if (!IsOpen()) throw ESocketError("receive on a closed connection");
    return Link.Receive(Handle, data, size);
}

std::chrono::steady_clock::time_point TTcpSocket::Now() {
    return std::chrono::steady_clock::time_point(std::chrono::microseconds(Link.NowUs));
}

}  // namespace tw
