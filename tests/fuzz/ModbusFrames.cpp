#include "ModbusFrames.h"

#include <algorithm>

namespace tw::fuzz {

bool SplitFrames(const TBytes& stream, std::size_t from, std::size_t to, std::vector<std::size_t>& starts) {
    starts.clear();
    while (from < to) {
        if (to - from < MbapSize) return false;
        const std::size_t size = FrameSize(&stream[from]);
        if (size == 0 || size > to - from) return false;
        starts.push_back(from);
        from += size;
    }
    return true;
}

uint16_t TDeviceTable::Register(uint16_t address) const {
    uint32_t x = (Seed * 0x9E3779B9u) ^ (address * 0x85EBCA6Bu);
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    return static_cast<uint16_t>(x);
}

namespace {
TBytes Answer(const uint8_t* request, uint8_t function, const TBytes& data) {
    TBytes frame(request, request + MbapSize);
    PutWord(&frame[4], static_cast<uint16_t>(2 + data.size()));
    frame.push_back(function);
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}
}  // namespace

TBytes CorrectAnswer(const TDeviceTable& table, const uint8_t* request) {
    const uint8_t function = request[7];
    const uint16_t address = WordAt(request + 8);
    const uint16_t quantity = WordAt(request + 10);
    const auto illegalValue = [&] { return Answer(request, static_cast<uint8_t>(function | 0x80), {3}); };
    switch (function) {
    case 1: {
        if (quantity < 1 || quantity > 2000) return illegalValue();
        TBytes data(1 + (quantity + 7) / 8, 0);
        data[0] = static_cast<uint8_t>(data.size() - 1);
        for (uint16_t i = 0; i < quantity; ++i)
            if (table.Coil(static_cast<uint16_t>(address + i))) data[1 + i / 8] |= static_cast<uint8_t>(1 << (i % 8));
        return Answer(request, function, data);
    }
    case 3: {
        if (quantity < 1 || quantity > 125) return illegalValue();
        TBytes data(1 + 2 * quantity);
        data[0] = static_cast<uint8_t>(2 * quantity);
        for (uint16_t i = 0; i < quantity; ++i)
            PutWord(&data[1 + 2 * i], table.Register(static_cast<uint16_t>(address + i)));
        return Answer(request, function, data);
    }
    case 5:
    case 6: return TBytes(request, request + RequestSize);
    default: return Answer(request, static_cast<uint8_t>(function | 0x80), {1});
    }
}

bool DecodeValues(const uint8_t* frame, std::size_t size, uint16_t count, std::vector<uint16_t>& values) {
    values.clear();
    if (size < MbapSize + 2) return false;
    const uint8_t function = frame[MbapSize];
    const std::size_t bytes = std::min<std::size_t>(frame[MbapSize + 1], size - MbapSize - 2);
    const uint8_t* data = frame + MbapSize + 2;
    const bool coils = function == 1 || function == 2;
    if (!coils && function != 3 && function != 4) return false;
    if ((coils ? 8 * bytes : bytes / 2) < count) return false;
    for (uint16_t i = 0; i < count; ++i)
        values.push_back(coils ? (data[i / 8] >> (i % 8)) & 1 : WordAt(data + 2 * i));
    return true;
}

}  // namespace tw::fuzz
