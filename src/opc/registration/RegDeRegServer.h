// The registration that makes the server known to OPC clients, offered by the server console: the ProgID with its marker
// keys and the membership of DA2 in the OPC Data Access 2.0 category.
#pragma once

#include <string>

#include "opc/registration/Registry.h"

namespace tw::opc {

extern const char kOPCProgId[];  // "VelmoraTarnowick.DA2.1"

// Raises TRegistrationError with the text to show when a write is refused or the category manager
// cannot be created.
void RegisterOPCServer(const std::string& progId, IClassesRegistry& registry);
// Never fails.
void UnregisterOPCServer(const std::string& progId, IClassesRegistry& registry);

}  // namespace tw::opc
