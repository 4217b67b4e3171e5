// One connection to an OPC DA 2.0 server and the commands run over it. Groups added by the session
// are held until they are removed or the session ends.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "OPCDA.h"
#include "Output.h"

namespace tw::opcda_cli {

struct TCommand {
    std::string name;
    std::vector<std::string> args;     // positional
    std::map<std::string, std::string> options;  // "--rate" -> "100"; flags map to ""
};

// Every string the enumerator still has, freed as they are taken; releases nothing.
void DrainStrings(IEnumString* strings, std::vector<std::string>& into);

// Known commands and how many positional arguments each takes.
bool IsCommand(const std::string& word, size_t* positional);

class TSession {
public:
    explicit TSession(IOPCServer* server) : server_(server) {}
    ~TSession();
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    TResult Run(const TCommand& command);
    // The server's text for hr; empty for S_OK.
    std::string ServerText(HRESULT hr);
    // The item's engineering units (property 100); empty when it has none.
    std::string Units(const std::string& item);
    // The group this session added under that name, or null.
    IUnknown* Group(const std::string& name) const {
        auto it = groups_.find(name);
        return it == groups_.end() ? nullptr : it->second.unknown;
    }

private:
    TResult Status();
    TResult Groups();
    TResult AddGroup(const TCommand& c);
    TResult RemoveGroup(const TCommand& c);
    TResult GroupState(const TCommand& c);
    TResult ErrorText(const TCommand& c);

    IOPCServer* server_;
    struct TGroupRef {
        OPCHANDLE handle;
        IUnknown* unknown;
    };
    std::map<std::string, TGroupRef> groups_;
};

}  // namespace tw::opcda_cli
