#include "ModbusFarm.h"

#include "modbus/SocketPlatform.h"
#include "modbus/TcpSocket.h"

#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <stdexcept>

namespace tw::bench {

using namespace sock;
using Clock = std::chrono::steady_clock;

namespace {
#ifdef _WIN32
using PollFd = WSAPOLLFD;
int PollAll(PollFd* fds, std::size_t n, int timeoutMs) { return WSAPoll(fds, static_cast<ULONG>(n), timeoutMs); }
#else
using PollFd = pollfd;
int PollAll(PollFd* fds, std::size_t n, int timeoutMs) { return ::poll(fds, n, timeoutMs); }
#endif

// The answer to one request frame (at least 12 bytes, as its length field says).
std::vector<uint8_t> Answer(const uint8_t* request, uint32_t epoch) {
    const int function = request[7];
    const int address = (request[8] << 8) | request[9];
    const int count = (request[10] << 8) | request[11];
    std::vector<uint8_t> answer(request, request + 8);
    if ((function != 3 || count < 1 || count > 125) && (function != 1 || count < 1 || count > 2000)) {
        answer[7] = static_cast<uint8_t>(function | 0x80);
        answer.push_back(1);
    } else if (function == 3) {
        answer.push_back(static_cast<uint8_t>(2 * count));
        for (int i = 0; i < count; ++i) {
            const uint16_t v = FarmValue(address + i, epoch);
            answer.push_back(static_cast<uint8_t>(v >> 8));
            answer.push_back(static_cast<uint8_t>(v));
        }
    } else {
        const int bytes = (count + 7) / 8;
        answer.push_back(static_cast<uint8_t>(bytes));
        answer.resize(answer.size() + static_cast<std::size_t>(bytes), 0);
        for (int i = 0; i < count; ++i)
            if (FarmValue(address + i, epoch) & 1) answer[9 + static_cast<std::size_t>(i / 8)] |= static_cast<uint8_t>(1 << (i % 8));
    }
    const std::size_t length = answer.size() - 6;
    answer[4] = static_cast<uint8_t>(length >> 8);
    answer[5] = static_cast<uint8_t>(length);
    return answer;
}
}  // namespace

struct TModbusFarm::TConnection {
    Native Socket;
    uint8_t In[512];
    std::size_t Got = 0;
};

TModbusFarm::TModbusFarm(TFarmControl& control) : Control(control) { InitSockets(); }

TModbusFarm::~TModbusFarm() {
    for (std::intptr_t l : Listeners) CloseNative(ToNative(l));
}

int TModbusFarm::Listen() {
    const Native s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (!IsValid(s) || bind(s, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(s, SOMAXCONN) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error(ErrorText("farm listen", LastError()));
    SetBlocking(s, false);
    Listeners.push_back(FromNative(s));
    return ntohs(addr.sin_port);
}

void TModbusFarm::Serve() {
    struct TPending {
        Clock::time_point Due;
        Native Socket;
        std::vector<uint8_t> Bytes;
    };
    std::vector<std::unique_ptr<TConnection>> connections;
    std::deque<TPending> pending;  // in order of their due times: every delay is the same
    std::vector<PollFd> fds;
    const auto delay = std::chrono::microseconds(Control.DelayUs);
    const auto send = [&](Native s, const std::vector<uint8_t>& bytes) {
        ::send(s, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), SendFlags);
        Control.Served.fetch_add(1, std::memory_order_relaxed);
    };
    while (!Control.Quit.load()) {
        fds.clear();
        for (std::intptr_t l : Listeners) fds.push_back(PollFd{ToNative(l), POLLIN, 0});
        for (const auto& c : connections) fds.push_back(PollFd{c->Socket, POLLIN, 0});
        int waitMs = 100;
        if (!pending.empty())
            waitMs = static_cast<int>(std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(pending.front().Due - Clock::now()).count()));
        if (PollAll(fds.data(), fds.size(), waitMs) > 0) {
            std::size_t kept = 0;
            for (std::size_t i = 0; i < connections.size(); ++i) {
                TConnection& conn = *connections[i];
                const short events = fds[Listeners.size() + i].revents;
                bool open = true;
                if (events & (POLLIN | POLLHUP | POLLERR)) {
                    const auto got = recv(conn.Socket, reinterpret_cast<char*>(conn.In + conn.Got),
                                          static_cast<int>(sizeof conn.In - conn.Got), 0);
                    open = got > 0 || (got < 0 && WouldBlock(LastError()));
                    if (got > 0) conn.Got += static_cast<std::size_t>(got);
                }
                // Whole frames, delimited by their length field.
                while (open && conn.Got >= 7) {
                    const std::size_t size = 6 + static_cast<std::size_t>((conn.In[4] << 8) | conn.In[5]);
                    if (size < 12 || size > sizeof conn.In) {
                        open = false;
                        break;
                    }
                    if (conn.Got < size) break;
                    std::vector<uint8_t> answer = Answer(conn.In, Control.Epoch.load());
                    if (delay.count() == 0)
                        send(conn.Socket, answer);
                    else
                        pending.push_back({Clock::now() + delay, conn.Socket, std::move(answer)});
                    std::memmove(conn.In, conn.In + size, conn.Got - size);
                    conn.Got -= size;
                }
                if (open) {
                    connections[kept++].swap(connections[i]);
                } else {
                    for (TPending& p : pending)
                        if (p.Socket == conn.Socket) p.Socket = static_cast<Native>(-1);  // its answer goes nowhere
                    CloseNative(conn.Socket);
                }
            }
            connections.resize(kept);
            for (std::size_t l = 0; l < Listeners.size(); ++l) {
                if (!(fds[l].revents & POLLIN)) continue;
                for (;;) {
                    const Native c = accept(ToNative(Listeners[l]), nullptr, nullptr);
                    if (!IsValid(c)) break;
                    SetBlocking(c, false);  // a poll that reported more than there is never holds the farm
                    const int one = 1;
                    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
                    connections.push_back(std::make_unique<TConnection>());
                    connections.back()->Socket = c;
                }
            }
        }
        for (; !pending.empty() && pending.front().Due <= Clock::now(); pending.pop_front())
            if (pending.front().Socket != static_cast<Native>(-1)) send(pending.front().Socket, pending.front().Bytes);
    }
    for (const auto& c : connections) CloseNative(c->Socket);
}

}  // namespace tw::bench
