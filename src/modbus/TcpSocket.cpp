#include "modbus/TcpSocket.h"

#include "modbus/SocketPlatform.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace tw {

using namespace sock;

void InitSockets() {
#ifdef _WIN32
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
#endif
}

TTcpSocket TTcpSocket::Adopt(std::intptr_t handle) {
    TTcpSocket s;
    s.Handle = handle;
    return s;
}

void TTcpSocket::Close() {
    if (IsOpen()) {
        CloseNative(ToNative(Handle));
        Handle = InvalidHandle;
    }
}

void TTcpSocket::Abort() {
    if (!IsOpen()) return;
    linger reset{};
    reset.l_onoff = 1;  // and no time to linger: the close sends a reset
    setsockopt(ToNative(Handle), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
    Close();
}

static sockaddr_in Resolve(const std::string& host, int port) {
    // An empty name would be looked up as-is by some resolvers; it never names a device.
    if (host.empty()) throw ESocketError("no host name given");
    if (port < 0 || port > 65535) throw ESocketError("port " + std::to_string(port) + " is out of range");
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        throw ESocketError("cannot resolve host name '" + host + "'");
    sockaddr_in addr = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    freeaddrinfo(found);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

void TTcpSocket::Connect(const std::string& host, int port, int timeoutMs) {
    InitSockets();
    Close();
    const sockaddr_in addr = Resolve(host, port);
    Native s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (!IsValid(s)) throw ESocketError(ErrorText("socket", LastError()));
    Handle = FromNative(s);

    SetBlocking(s, false);
    if (connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        int err = LastError();
        if (!WouldBlock(err)) {
            Close();
            throw ESocketError(ErrorText("connect", err));
        }
        constexpr int StepMs = 125;
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            if (WaitFor(s, true, StepMs)) {
                int soError = 0;
                socklen_t len = sizeof soError;
                getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
                if (soError == 0) break;
                Close();
                throw ESocketError(ErrorText("connect", soError));
            }
            auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            if (timeoutMs > 0 && elapsed.count() >= timeoutMs) {
                Close();
                throw ESocketError("connect to " + host + ":" + std::to_string(port) + " timed out");
            }
        }
    }
    SetBlocking(s, true);
}

void TTcpSocket::Send(const uint8_t* data, std::size_t size) {
    if (!IsOpen()) throw ESocketError("send on a closed connection");
    while (size > 0) {
        auto n = send(ToNative(Handle), reinterpret_cast<const char*>(data), static_cast<int>(size), SendFlags);
        if (n <= 0) throw ESocketError(ErrorText("send", LastError()));
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

bool TTcpSocket::WaitReadable(int timeoutMs) {
    if (!IsOpen()) throw ESocketError("wait on a closed connection");
    return WaitFor(ToNative(Handle), false, timeoutMs);
}

std::size_t TTcpSocket::Receive(uint8_t* data, std::size_t size) {
    if (!IsOpen()) throw ESocketError("receive on a closed connection");
    auto n = recv(ToNative(Handle), reinterpret_cast<char*>(data), static_cast<int>(size), 0);
    if (n == 0) throw ESocketError("connection closed by the peer");
    if (n < 0) throw ESocketError(ErrorText("receive", LastError()));
    return static_cast<std::size_t>(n);
}

std::chrono::steady_clock::time_point TTcpSocket::Now() { return std::chrono::steady_clock::now(); }

}  // namespace tw
