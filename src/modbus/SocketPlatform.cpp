#include "modbus/SocketPlatform.h"

#include <cstring>

namespace tw::sock {

void SetBlocking(Native s, bool blocking) {
#ifdef _WIN32
    u_long nonBlocking = blocking ? 0 : 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
#else
    int flags = fcntl(s, F_GETFL, 0);
    fcntl(s, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
#endif
}

bool WaitFor(Native s, bool forWrite, int timeoutMs) {
#ifdef _WIN32
    // select: Winsock reports a failed connect in the exception set, not as writable.
    fd_set main, failed;
    FD_ZERO(&main);
    FD_ZERO(&failed);
    FD_SET(s, &main);
    FD_SET(s, &failed);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int rc = select(0, forWrite ? nullptr : &main, forWrite ? &main : nullptr, &failed, timeoutMs < 0 ? nullptr : &tv);
    return rc != 0;  // an error counts as ready: the next call on the socket reports it
#else
    pollfd p{s, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc != 0;
#endif
}

std::string ErrorText(const char* what, int err) {
#ifdef _WIN32
    return std::string(what) + " failed (Winsock error " + std::to_string(err) + ")";
#else
    return std::string(what) + " failed: " + std::strerror(err);
#endif
}

}  // namespace tw::sock
