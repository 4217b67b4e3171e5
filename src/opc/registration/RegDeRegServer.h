// The registration that makes the server known to OPC clients, offered by the server console: the ProgID with its marker
// keys and the membership of DA2 in the OPC Data Access 2.0 category.
#pragma once

#include <string>

#include "opc/registration/Registry.h"

namespace tw::opc {

extern const char kOPCProgId[];  // "VelmoraTarnowick.DA2.1"

// The ProgID key and its CLSID key: what makes the name resolve to DA2. Written at every start as well,
// so the name a client or a server browser is given always leads to the server. Raises
// TRegistrationError on a refused write.
void RegisterOPCProgIdName(const std::string& progId, IClassesRegistry& registry);
// Removes those two keys, one at a time: the ProgID key stays while the OPC marker keys are in it.
void UnregisterOPCProgIdName(const std::string& progId, IClassesRegistry& registry);

// Raises TRegistrationError with the text to show when a write is refused or the category manager
// cannot be created.
void RegisterOPCServer(const std::string& progId, IClassesRegistry& registry);
// Never fails.
void UnregisterOPCServer(const std::string& progId, IClassesRegistry& registry);

}  // namespace tw::opc
