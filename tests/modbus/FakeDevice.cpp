#include "FakeDevice.h"

#include <algorithm>

namespace tw::test {

TFakeDevice::TFakeDevice() : Server(std::make_unique<TScriptedServer>([this](const TRequest& r) { return Answer(r); })) {}

namespace {
template <typename Map, typename Value>
Value Lookup(const Map& map, uint16_t number, Value otherwise) {
    auto found = map.find(static_cast<uint16_t>(number - 1));
    return found == map.end() ? otherwise : found->second;
}
}  // namespace

void TFakeDevice::SetRegister(uint16_t number, uint16_t value) {
    std::lock_guard<std::mutex> lock(Guard);
    Registers[static_cast<uint16_t>(number - 1)] = value;
}

void TFakeDevice::SetCoil(uint16_t number, bool on) {
    std::lock_guard<std::mutex> lock(Guard);
    Coils[static_cast<uint16_t>(number - 1)] = on;
}

void TFakeDevice::SetInputRegister(uint16_t number, uint16_t value) {
    std::lock_guard<std::mutex> lock(Guard);
    InputRegisters[static_cast<uint16_t>(number - 1)] = value;
}

void TFakeDevice::SetDiscreteInput(uint16_t number, bool on) {
    std::lock_guard<std::mutex> lock(Guard);
    DiscreteInputs[static_cast<uint16_t>(number - 1)] = on;
}

void TFakeDevice::AddHole(uint16_t number) {
    std::lock_guard<std::mutex> lock(Guard);
    Holes.insert(static_cast<uint16_t>(number - 1));
}

uint16_t TFakeDevice::Register(uint16_t number) const {
    std::lock_guard<std::mutex> lock(Guard);
    return Lookup(Registers, number, uint16_t{0});
}

bool TFakeDevice::Coil(uint16_t number) const {
    std::lock_guard<std::mutex> lock(Guard);
    return Lookup(Coils, number, false);
}

void TFakeDevice::AfterNextReadAnswer(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(Guard);
    AfterRead = std::move(hook);
}

TReply TFakeDevice::Answer(const TRequest& request) {
    const uint8_t unit = request[6];
    const uint8_t function = request[7];
    switch (Mode.load()) {
    case Silent: return Silence();
    case HangingUp: return HangUp();
    case Refusing: return Send(Frame(unit, static_cast<uint8_t>(0x80 | function), {2}));  // illegal data address
    case Answering: break;
    }
    const auto address = static_cast<uint16_t>((request[8] << 8) | request[9]);
    auto word = static_cast<uint16_t>((request[10] << 8) | request[11]);
    std::lock_guard<std::mutex> lock(Guard);
    if (function >= 1 && function <= 4) {
        const auto hole = Holes.lower_bound(address);
        if (hole != Holes.end() && *hole < address + word) return Send(Frame(unit, static_cast<uint8_t>(0x80 | function), {2}));
        if (LongestAnswer > 0) word = std::min<uint16_t>(word, LongestAnswer);
    }
    switch (function) {
    case 1:
    case 2: {
        auto& bits = function == 1 ? Coils : DiscreteInputs;
        TBytes data(1 + (word + 7) / 8, 0);
        data[0] = static_cast<uint8_t>(data.size() - 1);
        for (uint16_t i = 0; i < word; ++i)
            if (bits[static_cast<uint16_t>(address + i)]) data[1 + i / 8] |= static_cast<uint8_t>(1 << (i % 8));
        return Send(Frame(unit, function, data));
    }
    case 3:
    case 4: {
        auto& table = function == 3 ? Registers : InputRegisters;
        std::vector<uint16_t> values;
        for (uint16_t i = 0; i < word; ++i) values.push_back(table[static_cast<uint16_t>(address + i)]);
        TBytes answer = RegisterAnswer(unit, values);
        answer[7] = function;
        TReply reply = Send(answer);
        if (AfterRead) reply.Steps.emplace_back(TBytes{}, 0, std::exchange(AfterRead, {}));
        return reply;
    }
    case 5: Coils[address] = word == 0xFF00; return Send(EchoAnswer(request));
    case 6: Registers[address] = word; return Send(EchoAnswer(request));
    case 16:
        for (uint16_t i = 0; i < word && 13u + 2u * i + 1 < request.size(); ++i)
            Registers[static_cast<uint16_t>(address + i)] = static_cast<uint16_t>(request[13 + 2 * i] << 8 | request[14 + 2 * i]);
        return Send(EchoAnswer(request));
    default: return Send(Frame(unit, static_cast<uint8_t>(0x80 | function), {1}));
    }
}

}  // namespace tw::test
