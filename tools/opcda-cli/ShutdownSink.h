// --shutdown-sink: the client advises an IOPCShutdown sink on the server object, waits for the
// server's request, reports its reason, then lets go.
#pragma once

#include <string>

#include "OPCDA.h"
#include "Output.h"

namespace tw::opcda_cli {

// "--shutdown-sink" (wait up to 600 s) or "--shutdown-sink=SECONDS"; false for any other word.
bool ParseShutdownSinkOption(const std::string& word, int* seconds);

// Advises the sink, prints "waiting for a shutdown request" when printNow, and handles window
// messages until the request arrives (printed at once when printNow) or the time is up (E_ABORT).
TResult AwaitShutdownRequest(IOPCServer* server, int seconds, bool printNow);

}  // namespace tw::opcda_cli
