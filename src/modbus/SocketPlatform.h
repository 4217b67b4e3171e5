// The few differences between Winsock and BSD sockets, for the socket layer's own files only.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <string>

namespace tw::sock {

#ifdef _WIN32
using Native = SOCKET;
constexpr int SendFlags = 0;
inline int CloseNative(Native s) { return closesocket(s); }
inline int LastError() { return WSAGetLastError(); }
inline bool WouldBlock(int err) { return err == WSAEWOULDBLOCK || err == WSAEINPROGRESS; }
#else
using Native = int;
constexpr int SendFlags = MSG_NOSIGNAL;  // a closed peer is an error, not a SIGPIPE
inline int CloseNative(Native s) { return ::close(s); }
inline int LastError() { return errno; }
inline bool WouldBlock(int err) { return err == EINPROGRESS || err == EWOULDBLOCK || err == EAGAIN; }
#endif

inline Native ToNative(std::intptr_t h) { return static_cast<Native>(h); }
inline std::intptr_t FromNative(Native s) { return static_cast<std::intptr_t>(s); }
inline bool IsValid(Native s) {
#ifdef _WIN32
    return s != INVALID_SOCKET;
#else
    return s >= 0;
#endif
}

void SetBlocking(Native s, bool blocking);
// Waits for the socket to become readable (or writable); true when it did, false on time-out.
// timeoutMs < 0 waits without limit. Errors and hang-ups count as ready: the next call reports them.
bool WaitFor(Native s, bool forWrite, int timeoutMs);
std::string ErrorText(const char* what, int err);

}  // namespace tw::sock
