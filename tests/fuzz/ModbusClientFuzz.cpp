// libFuzzer target: the fuzz input plays the Modbus device at the other end of TIdModBusClient's
// connections (SimulatedLink.h) while the client reads and writes registers and coils, one at a time and
// in blocks, with idle time between. After every operation these rules must hold, whatever the device
// did; a broken rule ends the run as a crash, which libFuzzer keeps with its input:
//  - a read hands over values only from the answer to its own request: the frame it takes carries the
//    request's transaction id and function and is not the device's answer to another request; it hands
//    over every value asked for, decoded as the standard says; a failed read hands back zeros;
//  - the client never reads past the answer it takes, and stays in step: while it is connected, what it
//    has read of the device's stream is whole frames, and its last one answers its last request;
//  - whatever arrived before a request has been read and dropped when the request goes out;
//  - one request per operation, saying what the operation asked for, with a transaction id not used
//    before on its connection;
//  - no operation waits longer than the client's time-outs allow; transport failures raise
//    ESocketError only, and leave the client disconnected;
//  - a device that answers correctly and well in time is read correctly.
// TW_FUZZ_TRACE=1 prints every operation and its outcome (for reading a crash's input).
#include "SimulatedLink.h"
#include "modbus/IdModBusClient.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace tw::fuzz {
namespace {

constexpr uint16_t Untouched = 0xA5A5;  // what the caller's values hold before a read

struct TSettings {
    uint32_t TimeOut;
    int32_t ReadTimeout;
    int32_t ConnectTimeOut;
    uint8_t Unit;
    uint8_t Seed;

    int64_t LaterWaitUs() const { return (ReadTimeout > 0 ? ReadTimeout : static_cast<int32_t>(TimeOut)) * 1000LL; }
    // How long an operation may wait: a connect, one more if the connection is found out of step, and
    // the answer's two waits.
    int64_t BoundUs() const { return (2 * ConnectTimeOut + TimeOut) * 1000LL + LaterWaitUs(); }
};

TSettings ReadSettings(TInput& in) {
    TSettings s;
    s.TimeOut = 10 + in.Byte() % 100 * 10;
    const uint8_t later = in.Byte();
    s.ReadTimeout = later % 4 == 0 ? 0 : 5 + later % 50 * 10;
    s.ConnectTimeOut = 50 + in.Byte() % 20 * 50;
    s.Unit = in.Byte();
    s.Seed = in.Byte();
    return s;
}

enum TKind : uint8_t { ReadRegister, ReadCoil, ReadRegisters, ReadCoils, WriteRegister, WriteCoil, Idle, KindCount };
const char* const KindNames[] = {"ReadRegisterValue", "ReadCoilValue", "ReadRegisterBlock", "ReadCoilBlock",
                                 "WriteSingleRegister", "WriteSingleCoil", "idle"};

struct TOperation {
    TKind Kind = Idle;
    uint16_t Number = 0;
    uint16_t Count = 1;
    uint16_t Value = 0;

    bool IsRead() const { return Kind <= ReadCoils; }
    uint8_t Function() const {
        switch (Kind) {
        case ReadRegister:
        case ReadRegisters: return 3;
        case ReadCoil:
        case ReadCoils: return 1;
        case WriteRegister: return 6;
        default: return 5;
        }
    }
    // The word at offset 10 of the request: the quantity of a read, the value of a write.
    uint16_t RequestWord() const {
        if (IsRead()) return Count;
        return Kind == WriteRegister ? Value : (Value != 0 ? 0xFF00 : 0x0000);
    }
};

// Block sizes one by one up to 200, then in coarse steps up to 2000, the most coils a request may ask for.
uint16_t CountFrom(uint8_t code) { return code < 200 ? code + 1 : std::min(2000, 200 + (code - 199) * 33); }

TOperation ReadOperation(TInput& in) {
    TOperation op;
    op.Kind = static_cast<TKind>(in.Byte() % KindCount);
    if (op.Kind == Idle) {
        op.Value = in.Word();
        return op;
    }
    op.Number = in.Word();
    if (op.Kind == ReadRegisters || op.Kind == ReadCoils) op.Count = CountFrom(in.Byte());
    if (op.Kind == WriteRegister || op.Kind == WriteCoil) op.Value = in.Word();
    return op;
}

// What the client has read of a connection from `from` to `to` must be whole frames.
void CheckWholeFrames(const TConnection& c, std::size_t from, std::size_t to, const char* when) {
    std::vector<std::size_t> starts;
    if (!SplitFrames(c.Stream, from, to, starts))
        Fail("out of step %s: the client has read bytes %zu to %zu of the stream, which are not whole frames", when,
             from, to);
}

void CheckExchange(const TOperation& op, int index, int open, bool ok, const std::vector<uint16_t>& values,
                   const TSettings& s) {
    const TRequestSeen& r = Link.Requests[static_cast<std::size_t>(index)];
    const TConnection& c = Link.Connections[static_cast<std::size_t>(r.Connection)];
    const uint8_t* q = r.Bytes.data();
    const char* name = KindNames[op.Kind];
    if (WordAt(q + 2) != 0 || WordAt(q + 4) != 6 || q[6] != s.Unit)
        Fail("%s: a request with protocol id %u, length %u, unit %u", name, WordAt(q + 2), WordAt(q + 4), q[6]);
    if (q[7] != op.Function() || WordAt(q + 8) != static_cast<uint16_t>(op.Number - 1) ||
        WordAt(q + 10) != op.RequestWord())
        Fail("%s of %u (count %u, value %u) sent function %u, address %u, word %u", name, op.Number, op.Count,
             op.Value, q[7], WordAt(q + 8), WordAt(q + 10));
    const uint16_t id = WordAt(q);
    for (int other : c.Requests)
        if (other != index && WordAt(Link.Requests[static_cast<std::size_t>(other)].Bytes.data()) == id)
            Fail("two requests on one connection carry transaction id %u: their answers cannot be told apart", id);
    if (!r.Drained) Fail("%s: the request went out while bytes that had arrived before it were unread", name);
    CheckWholeFrames(c, 0, r.Offset, "when the request went out");

    if (r.Plain && !ok) Fail("%s: the device answered correctly and in time, yet the operation failed", name);
    if (!ok && open != r.Connection) return;
    // What the client read after its request: frames of other requests it passed over, then its answer.
    std::vector<std::size_t> starts;
    if (!SplitFrames(c.Stream, r.Offset, c.Consumed, starts))
        Fail("%s: after its request the client read bytes %zu to %zu, which are not whole frames (it read past an "
             "answer, or stopped inside one)", name, r.Offset, c.Consumed);
    if (starts.empty()) Fail("%s: %s without having read an answer", name, ok ? "success" : "still connected");
    for (std::size_t i = 0; i + 1 < starts.size(); ++i)
        if (WordAt(&c.Stream[starts[i]]) == id) Fail("%s: the client read on past the answer to its request", name);
    const uint8_t* answer = &c.Stream[starts.back()];
    if (WordAt(answer) != id)
        Fail("%s: the client stopped at a frame with transaction id %u, its request has %u", name, WordAt(answer), id);
    if (!ok) return;
    const auto mark = c.Marks.find(starts.back());
    if (mark != c.Marks.end() && mark->second.OwnId && mark->second.Answers != index &&
        c.Consumed - starts.back() <= mark->second.Length)
        Fail("%s: the client took the device's answer to request %d as the answer to request %d", name,
             mark->second.Answers, index);
    if (answer[MbapSize] != op.Function())
        Fail("%s: success on an answer with function %u", name, answer[MbapSize]);
    if (!op.IsRead()) return;
    std::vector<uint16_t> carried;
    if (!DecodeValues(answer, c.Consumed - starts.back(), op.Count, carried))
        Fail("%s of %u values succeeded on an answer that carries fewer", name, op.Count);
    for (std::size_t i = 0; i < op.Count; ++i)
        if (values[i] != carried[i])
            Fail("%s: value %zu handed over is %u, the answer says %u", name, i, values[i], carried[i]);
}

void Run(TIdModBusClient& client, const TOperation& op, const TSettings& s, bool trace) {
    if (op.Kind == Idle) {
        Link.Idle(op.Value % 5000 * 1000LL);
        return;
    }
    const std::size_t firstRequest = Link.Requests.size();
    const int64_t start = Link.NowUs;
    const int64_t work = Link.WorkUs;
    std::vector<uint16_t> values(op.Count, Untouched);
    bool ok = false;
    bool raised = false;
    try {
        switch (op.Kind) {
        case ReadRegister: ok = client.ReadRegisterValue(op.Number, values[0]); break;
        case ReadCoil: ok = client.ReadCoilValue(op.Number, values[0]); break;
        case ReadRegisters: ok = client.ReadRegisterBlock(op.Number, op.Count, values.data()); break;
        case ReadCoils: ok = client.ReadCoilBlock(op.Number, op.Count, values.data()); break;
        case WriteRegister: ok = client.WriteSingleRegister(op.Number, op.Value); break;
        default: ok = client.WriteSingleCoil(op.Number, op.Value); break;
        }
    } catch (const ESocketError& e) {
        raised = true;
        if (trace) std::fprintf(stderr, "  raised: %s\n", e.what());
    }
    const char* name = KindNames[op.Kind];
    const int open = Link.OpenConnection();
    if (trace)
        std::fprintf(stderr, "%8.3f ms %s(%u, count %u, value %u): %s, %s, %zu request(s)\n", Link.NowUs / 1000.0, name,
                     op.Number, op.Count, op.Value, ok ? "ok" : "failed", open >= 0 ? "connected" : "disconnected",
                     Link.Requests.size() - firstRequest);

    const int64_t waited = Link.NowUs - start - (Link.WorkUs - work);
    if (waited > s.BoundUs())
        Fail("%s waited %lld us; the client's time-outs allow %lld", name, static_cast<long long>(waited),
             static_cast<long long>(s.BoundUs()));
    if (client.Connected() != (open >= 0))
        Fail("Connected() is %d, yet the client holds %d connections", client.Connected(), open >= 0);
    if (raised && open >= 0) Fail("%s raised and left the client connected", name);
    if (open >= 0) {
        const TConnection& c = Link.Connections[static_cast<std::size_t>(open)];
        CheckWholeFrames(c, 0, c.Consumed, "after the operation");
    }
    if (op.IsRead()) {
        const uint16_t expected = raised ? Untouched : 0;
        if (!ok && std::any_of(values.begin(), values.end(), [&](uint16_t v) { return v != expected; }))
            Fail("%s failed and handed back a value other than %u", name, expected);
    }
    const std::size_t sent = Link.Requests.size() - firstRequest;
    if (sent > 1) Fail("%s sent %zu requests", name, sent);
    if (ok && sent == 0) Fail("%s succeeded without a request", name);
    if (sent == 1) CheckExchange(op, static_cast<int>(firstRequest), open, ok, values, s);
}

}  // namespace
}  // namespace tw::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace tw::fuzz;
    static const bool trace = std::getenv("TW_FUZZ_TRACE") != nullptr;
    TInput input(data, size);
    const TSettings settings = ReadSettings(input);
    TLinkSettings link;
    link.TimeOutUs = settings.TimeOut * 1000LL;
    link.LaterWaitUs = settings.LaterWaitUs();
    link.Table.Seed = settings.Seed;
    Link.Reset(input, link);

    tw::TIdModBusClient client;
    client.Host = "device";
    client.TimeOut = settings.TimeOut;
    client.ReadTimeout = settings.ReadTimeout;
    client.ConnectTimeOut = settings.ConnectTimeOut;
    client.UnitID = settings.Unit;
    while (!input.Empty()) Run(client, ReadOperation(input), settings, trace);
    return 0;
}
