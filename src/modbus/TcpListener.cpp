#include "modbus/TcpListener.h"

#include "modbus/SocketPlatform.h"

namespace tw {

using namespace sock;

TTcpListener::TTcpListener(int port) {
    InitSockets();
    Native s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (!IsValid(s)) throw ESocketError(ErrorText("socket", LastError()));
    Handle = FromNative(s);
#ifndef _WIN32
    // Lets a test server come back on the port it had a moment ago (on Windows this option means sharing).
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
#endif
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 16) != 0) {
        int err = LastError();
        Close();
        throw ESocketError(ErrorText("listen", err));
    }
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    BoundPort = ntohs(addr.sin_port);
}

TTcpListener::~TTcpListener() { Close(); }

void TTcpListener::Close() {
    if (Handle != -1) {
        CloseNative(ToNative(Handle));
        Handle = -1;
    }
}

bool TTcpListener::Accept(TTcpSocket& connection, int timeoutMs) {
    if (Handle == -1 || !WaitFor(ToNative(Handle), false, timeoutMs)) return false;
    Native c = accept(ToNative(Handle), nullptr, nullptr);
    if (!IsValid(c)) return false;
    connection = TTcpSocket::Adopt(FromNative(c));
    return true;
}

}  // namespace tw
