// A well-behaved Modbus TCP device (holding registers and coils) that can be told to fall silent.
#pragma once

#include "ScriptedServer.h"

#include <map>
#include <memory>

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
    void SetSilent(bool silent) { Silent = silent; }
    std::vector<TRequest> Requests() const { return Server->Requests(); }
    int Connections() const { return Server->Connections(); }

private:
    TReply Answer(const TRequest& request);

    mutable std::mutex Guard;
    std::map<uint16_t, uint16_t> Registers;  // by wire address
    std::map<uint16_t, bool> Coils;
    std::atomic<bool> Silent{false};
    std::unique_ptr<TScriptedServer> Server;  // last: stops before the maps go
};

}  // namespace tw::test
