// The fuzz input, read front to back. Past its end every read gives 0, so any input is a whole run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tw::fuzz {

class TInput {
public:
    TInput() = default;
    TInput(const uint8_t* data, std::size_t size) : Data(data), Size(size) {}

    bool Empty() const { return At >= Size; }
    uint8_t Byte() { return At < Size ? Data[At++] : 0; }
    uint16_t Word() {
        const uint8_t high = Byte();
        return static_cast<uint16_t>(high << 8 | Byte());
    }
    std::vector<uint8_t> Bytes(std::size_t count) {
        std::vector<uint8_t> bytes;
        for (; count > 0 && !Empty(); --count) bytes.push_back(Byte());
        return bytes;
    }

private:
    const uint8_t* Data = nullptr;
    std::size_t Size = 0;
    std::size_t At = 0;
};

}  // namespace tw::fuzz
