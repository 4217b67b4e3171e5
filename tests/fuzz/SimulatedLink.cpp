#include "SimulatedLink.h"

#include "modbus/TcpSocket.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tw::fuzz {

TLink Link;

void Fail(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fputs("\n*** broken rule: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputs("\n", stderr);
    va_end(args);
    std::abort();
}

namespace {
// Fine steps up to 127 ms, then steps of 25 ms up to about 3 s.
int64_t DelayUs(uint8_t code) { return code < 128 ? code * 1000LL : (code - 127) * 25000LL; }

enum TAction : uint8_t { Answer, Exception, Replay, Noise, Hangup, ResetConnection, Flood, AnswerToo };
}  // namespace

void TLink::Reset(TInput& input, const TLinkSettings& settings) {
    In = &input;
    Settings = settings;
    NowUs = 0;
    WorkUs = 0;
    Connections.clear();
    Requests.clear();
}

int TLink::OpenConnection() const {
    int open = -1;
    for (std::size_t i = 0; i < Connections.size(); ++i) {
        if (!Connections[i].Open) continue;
        if (open >= 0) Fail("the client holds two connections at once");
        open = static_cast<int>(i);
    }
    return open;
}

TConnection& TLink::Of(std::intptr_t handle) {
    if (handle < 0 || static_cast<std::size_t>(handle) >= Connections.size() || !Connections[handle].Open)
        Fail("the client used a connection it does not hold");
    return Connections[static_cast<std::size_t>(handle)];
}

void TLink::Arrive(TConnection& c) {
    if (c.ResetAt <= NowUs && !c.WasReset) {
        c.WasReset = true;
        c.Pending.clear();
        c.Stream.resize(c.Consumed);  // what was not read yet is lost with the connection
        c.Marks.erase(c.Marks.lower_bound(c.Consumed), c.Marks.end());
    }
    auto next = c.Pending.begin();
    for (; next != c.Pending.end() && next->first <= NowUs; ++next) {
        const TPiece& piece = next->second;
        if (piece.At >= c.FinAt) continue;  // sent after the device closed: never sent
        if (piece.Mark) c.Marks[c.Stream.size()] = *piece.Mark;
        c.Stream.insert(c.Stream.end(), piece.Bytes.begin(), piece.Bytes.end());
    }
    c.Pending.erase(c.Pending.begin(), next);
}

bool TLink::Readable(const TConnection& c) const {
    return Unread(c) > 0 || c.WasReset || c.FinAt <= NowUs || Flooding(c);
}

int64_t TLink::NextEvent(const TConnection& c) const {
    const int64_t next = std::min({c.FinAt, c.ResetAt, c.FloodAt});
    return c.Pending.empty() ? next : std::min(next, c.Pending.begin()->first);
}

std::intptr_t TLink::Connect(int timeoutMs) {
    Cost();
    switch (In->Byte() % 8) {
    case 6: throw ESocketError("connect failed: refused");
    case 7: NowUs += (timeoutMs > 0 ? timeoutMs : 21000) * 1000LL; throw ESocketError("connect timed out");
    default: break;
    }
    Connections.emplace_back();
    return static_cast<std::intptr_t>(Connections.size() - 1);
}

void TLink::Close(std::intptr_t handle) {
    TConnection& c = Of(handle);
    c.Open = false;
    c.Pending.clear();  // the device's later bytes go nowhere
}

void TLink::Send(std::intptr_t handle, const uint8_t* data, std::size_t size) {
    TConnection& c = Of(handle);
    Arrive(c);
    if (c.WasReset) {
        Cost();
        throw ESocketError("send failed: reset by the peer");
    }
    if (size != RequestSize) Fail("a request of %zu bytes in one send; a request is 12 bytes in one send", size);
    TRequestSeen seen;
    seen.Connection = static_cast<int>(handle);
    seen.Offset = c.Consumed;
    seen.Drained = Unread(c) == 0 && !Flooding(c);
    std::copy_n(data, RequestSize, seen.Bytes.begin());
    seen.Answer = CorrectAnswer(Settings.Table, data);
    const int index = static_cast<int>(Requests.size());
    Requests.push_back(std::move(seen));
    c.Requests.push_back(index);
    if (c.FinAt <= NowUs)
        c.ResetAt = NowUs + CallCostUs;  // the device has gone: its system answers with a reset
    else
        Script(c, index);
    Cost();
}

bool TLink::WaitReadable(std::intptr_t handle, int timeoutMs) {
    TConnection& c = Of(handle);
    if (timeoutMs < 0) Fail("a wait without a time limit");
    Cost();
    const int64_t until = NowUs + timeoutMs * 1000LL;
    for (;;) {
        Arrive(c);
        if (Readable(c)) return true;
        const int64_t next = NextEvent(c);
        if (next > until) {
            NowUs = until;
            return false;
        }
        NowUs = next;
    }
}

std::size_t TLink::Receive(std::intptr_t handle, uint8_t* data, std::size_t size) {
    TConnection& c = Of(handle);
    Cost();
    Arrive(c);
    if (c.WasReset) throw ESocketError("receive failed: reset by the peer");
    if (Unread(c) == 0 && Flooding(c)) {
        // As much of the endless stream as the client asks for, taken up where it left off.
        const std::size_t period = c.Flood.Bytes.size();
        for (std::size_t left = size; left > 0;) {
            const std::size_t at = c.FloodNext % period;
            const std::size_t n = std::min(left, period - at);
            if (at == 0 && c.Flood.Mark) c.Marks[c.Stream.size()] = *c.Flood.Mark;
            c.Stream.insert(c.Stream.end(), c.Flood.Bytes.begin() + at, c.Flood.Bytes.begin() + at + n);
            c.FloodNext += n;
            left -= n;
        }
    }
    if (Unread(c) == 0) {
        if (c.FinAt <= NowUs) throw ESocketError("connection closed by the peer");
        Fail("a receive with nothing to read: it would wait without limit");
    }
    const std::size_t n = std::min(size, Unread(c));
    std::memcpy(data, &c.Stream[c.Consumed], n);
    c.Consumed += n;
    return n;
}

// One script per request: up to four actions, each with its own delay and cut.
void TLink::Script(TConnection& c, int request) {
    const bool calm =
        Unread(c) == 0 && c.Pending.empty() && c.FinAt == Never && c.ResetAt == Never && c.FloodAt == Never;
    const int actions = In->Byte() % 5;
    bool plain = calm && actions == 1;
    for (int a = 0; a < actions; ++a) {
        const uint8_t kind = In->Byte() % 8;
        switch (kind) {
        case Hangup: c.FinAt = std::min(c.FinAt, NowUs + DelayUs(In->Byte())); plain = false; break;
        case ResetConnection: c.ResetAt = std::min(c.ResetAt, NowUs + DelayUs(In->Byte())); plain = false; break;
        case Flood: {
            bool unused;
            c.Flood = Action(c, request, In->Byte() % 32 == 0 ? Replay : Noise, unused);
            if (c.Flood.Bytes.empty()) c.Flood = TPiece{0, {0}, {}};
            if (c.Flood.Mark) c.Flood.Mark->Length = c.Flood.Bytes.size();
            c.FloodAt = std::min(c.FloodAt, NowUs + DelayUs(In->Byte()));
            plain = false;
            break;
        }
        default: {
            TPiece piece = Action(c, request, kind, plain);
            const int64_t at = NowUs + DelayUs(In->Byte());
            Schedule(c, std::move(piece), at, In->Byte());
        }
        }
    }
    if (plain) {
        // In time by a wide margin: the whole answer within half of the shorter of the client's waits.
        const int64_t margin = std::min(Settings.TimeOutUs, Settings.LaterWaitUs) / 2;
        plain = c.Pending.empty() || c.Pending.rbegin()->first - NowUs <= margin;
    }
    Requests[static_cast<std::size_t>(request)].Plain = plain;
}

TPiece TLink::Action(TConnection& c, int request, uint8_t kind, bool& plain) {
    const TRequestSeen& seen = Requests[static_cast<std::size_t>(request)];
    TPiece piece;
    const auto frameOf = [&](const TBytes& bytes, int answers) {
        piece.Bytes = bytes;
        piece.Mark = TMark{answers, true, 0};
    };
    switch (kind) {
    case Answer:
    case AnswerToo:
        frameOf(seen.Answer, request);
        plain = plain && seen.Answer[MbapSize] == seen.Bytes[MbapSize];  // not an exception
        Mutate(piece, WordAt(seen.Bytes.data()), plain);
        break;
    case Exception: {
        TBytes frame(seen.Bytes.begin(), seen.Bytes.begin() + MbapSize);
        PutWord(&frame[4], 3);
        frame.push_back(static_cast<uint8_t>(seen.Bytes[MbapSize] | 0x80));
        frame.push_back(In->Byte());
        frameOf(frame, request);
        plain = false;
        break;
    }
    case Replay: {
        // A copy of the answer to an earlier request on this connection, late or repeated.
        const uint8_t back = In->Byte();
        const std::size_t earlier = c.Requests.size() - 1;
        if (earlier > 0) {
            const int j = c.Requests[earlier - 1 - back % earlier];
            frameOf(Requests[static_cast<std::size_t>(j)].Answer, j);
        }
        plain = false;
        break;
    }
    default: {
        piece.Bytes = In->Bytes(In->Byte() % 64);
        plain = false;
    }
    }
    return piece;
}

void TLink::Mutate(TPiece& answer, uint16_t id, bool& plain) {
    const uint8_t changes = In->Byte();
    if (changes != 0) plain = false;
    TBytes& f = answer.Bytes;
    if (changes & 0x01) {
        const uint16_t other = In->Word();
        PutWord(&f[0], other);
        answer.Mark->OwnId = other == id;
    }
    if (changes & 0x02) f[MbapSize] = In->Byte();  // function code
    if (changes & 0x04 && f.size() > MbapSize + 1) f[MbapSize + 1] = static_cast<uint8_t>(f[MbapSize + 1] + In->Byte());
    if (changes & 0x08) {  // more data than the answer needs, counted in the length
        const TBytes extra = In->Bytes(In->Byte() % 16);
        f.insert(f.end(), extra.begin(), extra.end());
        PutWord(&f[4], static_cast<uint16_t>(WordAt(&f[4]) + extra.size()));
    }
    if (changes & 0x10) PutWord(&f[4], static_cast<uint16_t>(WordAt(&f[4]) + static_cast<int8_t>(In->Byte())));
    if (changes & 0x20) f[6] = In->Byte();  // unit id
    if (changes & 0x40) PutWord(&f[2], In->Word());  // protocol id
    if (changes & 0x80) {
        const std::size_t keep = In->Byte();
        if (keep < f.size()) f.resize(keep);
    }
}

// Cut 0 sends the bytes at once; otherwise in segments of (cut & 15) + 1 bytes, (cut >> 4) ms apart.
void TLink::Schedule(TConnection& c, TPiece piece, int64_t at, uint8_t cut) {
    const auto send = [&c](TPiece segment) { c.Pending.emplace(segment.At, std::move(segment)); };
    if (piece.Bytes.empty()) return;
    if (piece.Mark) piece.Mark->Length = piece.Bytes.size();
    if (cut == 0) {
        piece.At = at;
        send(std::move(piece));
        return;
    }
    const std::size_t size = (cut & 15) + 1;
    const int64_t gap = (cut >> 4) * 1000LL;
    for (std::size_t from = 0; from < piece.Bytes.size(); from += size, at += gap) {
        const std::size_t to = std::min(from + size, piece.Bytes.size());
        send(TPiece{at, TBytes(piece.Bytes.begin() + from, piece.Bytes.begin() + to),
                    from == 0 ? piece.Mark : std::nullopt});
    }
}

}  // namespace tw::fuzz
