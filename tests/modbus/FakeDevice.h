// A well-behaved Modbus TCP device (holding registers, coils, input registers and discrete inputs) that
// can be told to fall silent, to hang up on every request, or to refuse every request with an
// exception answer.
#pragma once

#include "ScriptedServer.h"

#include <map>
#include <memory>
#include <set>

namespace tw::test {

class TFakeDevice {
public:
    TFakeDevice();
    int Port() const { return Server->Port(); }
    // Register and coil numbers are 1-based, as configured.
    void SetRegister(uint16_t number, uint16_t value);
    uint16_t Register(uint16_t number) const;
    void SetCoil(uint16_t number, bool on);
    bool Coil(uint16_t number) const;
    void SetInputRegister(uint16_t number, uint16_t value);
    void SetDiscreteInput(uint16_t number, bool on);
    // A number the device does not have: a read that covers it is refused (illegal data address).
    void AddHole(uint16_t number);
    // A read of more values than this is answered with only this many (0: as many as asked).
    void SetLongestAnswer(uint16_t count) { LongestAnswer = count; }
    enum TMode { Answering, Silent, HangingUp, Refusing };
    void SetMode(TMode mode) { Mode = mode; }
    void SetSilent(bool silent) { Mode = silent ? Silent : Answering; }
    // Runs once, on the device's thread, right after the next register read has been answered.
    void AfterNextReadAnswer(std::function<void()> hook);
    std::vector<TRequest> Requests() const { return Server->Requests(); }
    int Connections() const { return Server->Connections(); }

private:
    TReply Answer(const TRequest& request);

    mutable std::mutex Guard;
    std::map<uint16_t, uint16_t> Registers;  // by wire address
    std::map<uint16_t, bool> Coils;
    std::map<uint16_t, uint16_t> InputRegisters;
    std::map<uint16_t, bool> DiscreteInputs;
    std::set<uint16_t> Holes;  // by wire address
    std::atomic<uint16_t> LongestAnswer{0};
    std::atomic<TMode> Mode{Answering};
    std::function<void()> AfterRead;
    std::unique_ptr<TScriptedServer> Server;  // last: stops before the maps go
};

}  // namespace tw::test
