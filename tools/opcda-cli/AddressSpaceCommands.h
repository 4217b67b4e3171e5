// The server's address space: the flat browse with its filters and the properties of one item.
//   browse [--filter PATTERN] [--access N] [--type VT] [--item-ids]   item names ("*", "?", "[a-z]", "[!x]");
//                                                    --item-ids: each with its item id (GetItemID)
//   properties ITEM [--item-ids]                     every property: id, description, type, value;
//                                                    --item-ids: and its item id (LookupItemIDs)
#pragma once

#include <string>

#include "OPCDA.h"
#include "Output.h"
#include "Session.h"

namespace tw::opcda_cli {

// Whether word is one of these commands, and how many positional arguments it takes.
bool IsAddressSpaceCommand(const std::string& word, size_t* positional);
// Whether an option of these commands is followed by a value.
bool AddressSpaceOptionTakesValue(const std::string& option);

class TAddressSpaceCommands {
public:
    TAddressSpaceCommands(TSession& session, IOPCServer* server) : session_(session), server_(server) {}

    TResult Run(const TCommand& command);

private:
    TResult Browse(const TCommand& c);
    TResult Properties(const TCommand& c);

    TSession& session_;
    IOPCServer* server_;
};

}  // namespace tw::opcda_cli
