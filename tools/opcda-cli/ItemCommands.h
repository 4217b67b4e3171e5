// Item access without browsing: add items by name to a group of the session, then read and write
// them, synchronously or (--async) through IOPCAsyncIO2, waiting for the completion.
//   add GROUP ITEM[,ITEM...] [--inactive]          items by tag name
//   read GROUP [--cache | --async]                   every item added to GROUP (from the device by default)
//   write GROUP ITEM=VALUE[,ITEM=VALUE...] [--async] a whole number is sent as VT_I4, anything else as text
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "OPCDA.h"
#include "Output.h"
#include "Session.h"

namespace tw::opcda_cli {

// The non-empty parts of a comma-separated list, in order.
std::vector<std::string> SplitList(const std::string& text);

// Whether word is one of these commands, and how many positional arguments it takes.
bool IsItemCommand(const std::string& word, size_t* positional);

class TItemCommands {
public:
    explicit TItemCommands(TSession& session) : session_(session) {}

    TResult Run(const TCommand& command);
    // The engineering units of each item added to the group, in the order added ("" for none).
    std::vector<std::string> Units(const std::string& group) const;

private:
    struct TItem {
        std::string name;
        OPCHANDLE serverHandle;
        std::string units;  // of an analog item
    };
    // Sends the request (transaction id, out: cancel id and the items' errors) and awaits its completion.
    using TAsyncRequest = std::function<HRESULT(IOPCAsyncIO2*, DWORD, DWORD*, HRESULT**)>;

    TResult Add(const TCommand& c);
    TResult Read(const TCommand& c);
    TResult Write(const TCommand& c);
    // names, clients (client handles, 0 for an item not added) and handles: one entry per item asked for.
    TResult RunAsync(const TCommand& c, const std::vector<std::string>& names, const std::vector<OPCHANDLE>& clients,
                     const std::vector<OPCHANDLE>& handles, const TAsyncRequest& request);
    std::string ReadLine(const std::string& name, HRESULT error, const VARIANT& value, WORD quality,
                         const FILETIME& time, const std::string& units = "");
    std::string WriteLine(const std::string& name, HRESULT error);
    // Starts c's result: the interface of the group c names, or null with r.hr and r.hrText saying why.
    template <class Itf>
    Itf* GroupInterface(const TCommand& c, REFIID iid, TResult& r);
    std::string ErrorText(HRESULT hr) { return session_.ServerText(hr); }

    TSession& session_;
    std::map<std::string, std::vector<TItem>> items_;  // by group name, in the order added
    DWORD lastTransactionId_ = 0;
};

}  // namespace tw::opcda_cli
