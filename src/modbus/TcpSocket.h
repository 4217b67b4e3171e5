// One TCP connection over BSD sockets or Winsock; the rest of the code never sees either.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace tw {

// Any failure of the transport: connect, name resolution, send, receive, or the peer closing.
class ESocketError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TTcpSocket {
public:
    TTcpSocket() = default;
    ~TTcpSocket() { Close(); }
    TTcpSocket(TTcpSocket&& other) noexcept : Handle(other.Handle) { other.Handle = InvalidHandle; }
    TTcpSocket& operator=(TTcpSocket&& other) noexcept {
        if (this != &other) {
            Close();
            Handle = other.Handle;
            other.Handle = InvalidHandle;
        }
        return *this;
    }
    TTcpSocket(const TTcpSocket&) = delete;
    TTcpSocket& operator=(const TTcpSocket&) = delete;

    // Connects to host (name or IPv4 address). timeoutMs <= 0 leaves the limit to the system.
    // The wait runs in 125 ms steps, so a refused connection fails at the first step, not at the limit.
    void Connect(const std::string& host, int port, int timeoutMs);
    void Close();
    // Closes with a reset instead of an orderly close, as the system of a device that crashed does.
    void Abort();
    bool IsOpen() const { return Handle != InvalidHandle; }

    // Sends every byte in one call to the system.
    void Send(const uint8_t* data, std::size_t size);
    // Blocks until data can be read or timeoutMs has passed (0 = just look, < 0 = no limit).
    bool WaitReadable(int timeoutMs);
    // Receives what is there, at most size bytes, waiting if nothing is; throws if the peer has closed.
    std::size_t Receive(uint8_t* data, std::size_t size);

    // The clock that the waits of this layer run on.
    static std::chrono::steady_clock::time_point Now();

    // Takes over a connected handle (used by the listener).
    static TTcpSocket Adopt(std::intptr_t handle);

private:
    static constexpr std::intptr_t InvalidHandle = -1;
    std::intptr_t Handle = InvalidHandle;
};

// The system's socket library, started once per process (Winsock needs it; elsewhere a no-op).
void InitSockets();

}  // namespace tw
