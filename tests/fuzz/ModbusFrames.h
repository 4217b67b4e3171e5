// Modbus TCP as the standard defines it, for the simulated device and for the checks on the client:
// frames delimited by the length field of their MBAP header, answers built from the device's values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tw::fuzz {

using TBytes = std::vector<uint8_t>;

constexpr std::size_t MbapSize = 7;  // transaction id, protocol id, length, unit id
constexpr std::size_t RequestSize = 12;

inline uint16_t WordAt(const uint8_t* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }
inline void PutWord(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

// The size of the frame that begins at frame, from its length field; 0 when the length cannot hold a
// unit id and a function code, so that no frame can be told apart there.
inline std::size_t FrameSize(const uint8_t* frame) {
    const std::size_t length = WordAt(frame + 4);
    return length < 2 ? 0 : MbapSize - 1 + length;
}

// The starts of the whole frames that bytes [from, to) of a stream consist of; false when they do not
// end where a frame ends.
bool SplitFrames(const TBytes& stream, std::size_t from, std::size_t to, std::vector<std::size_t>& starts);

// What the simulated device holds: every address has a value of its own, drawn from a seed.
struct TDeviceTable {
    uint32_t Seed = 0;
    uint16_t Register(uint16_t address) const;
    bool Coil(uint16_t address) const { return Register(address) & 1; }
};

// The answer a correct device gives to a request: the values asked for, the echo of a write, or an
// exception when the request asks for more than the standard allows.
TBytes CorrectAnswer(const TDeviceTable& table, const uint8_t* request);

// The first count values that an answer of function 1 to 4 carries, decoded as the standard says;
// false when it carries fewer.
bool DecodeValues(const uint8_t* frame, std::size_t size, uint16_t count, std::vector<uint16_t>& values);

}  // namespace tw::fuzz
