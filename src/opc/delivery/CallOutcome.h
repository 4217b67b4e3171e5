// What the result of a call to a client's sink says about the client: a result it chose, the loss
// of that one sink object, or the loss of the client.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tw::opc {

enum class TCallOutcome : uint8_t {
    Answered,    // whatever it answered, also a failure (a client may fail a callback on purpose)
    SinkGone,    // that sink object was disconnected; the client's other sinks may live on
    ClientGone,  // the client's process (or the connection to it) is gone
};

TCallOutcome OutcomeOf(HRESULT hr);

}  // namespace tw::opc
