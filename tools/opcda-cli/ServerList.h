// opcda-cli servers: the OPC DA 2.0 servers of this machine, as a server browser finds them.
#pragma once

#include "Output.h"

namespace tw::opcda_cli {

// Every class in the OPC DA 2.0 category with the ProgID its class key announces; a server whose
// ProgID is missing or does not lead back to its class is listed with the reason and fails the result.
// COM is initialised.
TResult ListServers();

}  // namespace tw::opcda_cli
