// The device's end of the client's connections, simulated in the fuzzer's one thread on a clock of its
// own. The client's socket layer (SimulatedSocket.cpp, linked in place of the real one) talks to it, so
// no time really passes: a wait ends at once at the next arrival, or moves the clock to its limit.
//
// The fuzz input decides everything the device does: whether a connect is accepted, refused or left
// hanging, and for every request a script of actions (its answer, changed or not, an exception,
// copies of earlier answers, noise, a close, a reset, an endless stream), each with its own delay and
// cut into segments with gaps of their own. Where an answer the device built begins in its stream, a
// mark says for which request, so that the checks can tell whose answer the client took.
#pragma once

#include "FuzzInput.h"
#include "ModbusFrames.h"

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <vector>

namespace tw::fuzz {

constexpr int64_t Never = std::numeric_limits<int64_t>::max();

// The client's settings, which the device needs to know which of its scripts a sound client must
// follow to the end.
struct TLinkSettings {
    int64_t TimeOutUs = 0;
    int64_t LaterWaitUs = 0;  // each further wait of an answer
    TDeviceTable Table;
};

// The first byte of an answer the device built.
struct TMark {
    int Answers = -1;    // the request it was built for
    bool OwnId = false;  // it carries that request's transaction id
    // How many bytes of it were sent: a frame that runs on past them (a cut answer followed by noise)
    // is not that answer.
    std::size_t Length = 0;
};

struct TRequestSeen {
    int Connection = -1;
    std::size_t Offset = 0;       // bytes of the device's stream the client had taken when it sent this
    bool Drained = false;         // nothing that had arrived was left unread when it was sent
    bool Plain = false;           // the device's script was one correct answer, whole well within time
    std::array<uint8_t, RequestSize> Bytes{};
    TBytes Answer;                // the correct answer to it
};

struct TPiece {
    int64_t At = 0;
    TBytes Bytes;
    std::optional<TMark> Mark;  // of its first byte
};

struct TConnection {
    bool Open = true;                 // on the client's side
    TBytes Stream;                    // what has arrived at the client, in order
    std::map<std::size_t, TMark> Marks;  // by offset in Stream
    std::size_t Consumed = 0;         // how much of it the client has received
    // Sent by the device and on the way, by arrival time; of two that arrive together, the one sent first.
    std::multimap<int64_t, TPiece> Pending;
    int64_t FinAt = Never;            // the device closes its end
    int64_t ResetAt = Never;          // the device resets the connection: whatever is unread is lost
    bool WasReset = false;
    int64_t FloodAt = Never;          // from then on the device sends the flood pattern without end
    TPiece Flood;
    std::size_t FloodNext = 0;
    std::vector<int> Requests;        // indexes in TLink::Requests
};

class TLink {
public:
    void Reset(TInput& input, const TLinkSettings& settings);

    int64_t NowUs = 0;
    int64_t WorkUs = 0;  // of NowUs, the part charged for the client's calls rather than waited
    std::vector<TConnection> Connections;
    std::vector<TRequestSeen> Requests;

    // The open connection of the client, or -1.
    int OpenConnection() const;
    void Idle(int64_t us) { NowUs += us; }

    // The socket operations, on the client's connection handle.
    std::intptr_t Connect(int timeoutMs);
    void Close(std::intptr_t handle);
    void Send(std::intptr_t handle, const uint8_t* data, std::size_t size);
    bool WaitReadable(std::intptr_t handle, int timeoutMs);
    std::size_t Receive(std::intptr_t handle, uint8_t* data, std::size_t size);

private:
    TConnection& Of(std::intptr_t handle);
    void Arrive(TConnection& c);
    bool Flooding(const TConnection& c) const { return c.FloodAt <= NowUs && NowUs < c.FinAt && !c.WasReset; }
    std::size_t Unread(const TConnection& c) const { return c.Stream.size() - c.Consumed; }
    bool Readable(const TConnection& c) const;
    int64_t NextEvent(const TConnection& c) const;
    void Cost() {
        NowUs += CallCostUs;
        WorkUs += CallCostUs;
    }
    void Script(TConnection& c, int request);
    TPiece Action(TConnection& c, int request, uint8_t kind, bool& plain);
    void Mutate(TPiece& answer, uint16_t id, bool& plain);
    void Schedule(TConnection& c, TPiece piece, int64_t at, uint8_t cut);

    // Time passes while the client works, also in a flood: every call costs this much. A wait or a
    // receive pays at its start, so that what it finds is what is there when it returns; a send pays
    // after, so that it goes out at the moment of the look before it.
    static constexpr int64_t CallCostUs = 250;
    TInput* In = nullptr;
    TLinkSettings Settings;
};

extern TLink Link;

// Reports a broken rule and ends the run as a crash, which libFuzzer records with its input.
[[noreturn]] void Fail(const char* format, ...);

}  // namespace tw::fuzz
