// subscribe ITEM[,ITEM...] [--rate MS] [--duration SECONDS]
// Adds the items to a new active group of the session with that update rate (1000 ms by default),
// advises an IOPCDataCallback on it and prints every item of every OnDataChange as it arrives: one
// line per item, or with --json one JSON object per line. Runs for the duration, or until stopped
// when none is given; then unadvises and removes the group.
#pragma once

#include <string>

#include "ItemCommands.h"
#include "OPCDA.h"
#include "Output.h"
#include "Session.h"

namespace tw::opcda_cli {

bool IsSubscribeCommand(const std::string& word, size_t* positional);
bool SubscribeOptionTakesValue(const std::string& option);
TResult RunSubscribe(TSession& session, TItemCommands& items, const TCommand& command, bool json);

}  // namespace tw::opcda_cli
