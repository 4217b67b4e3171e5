// opcda-cli [--json] SERVER COMMAND [ARGS] [COMMAND [ARGS]]...
// opcda-cli [--json] servers
// SERVER is a ProgID or a CLSID in braces; the server is created with CLSCTX_LOCAL_SERVER. Commands
// run in order over one connection. Exit code: 0 all succeeded, 1 a command failed, 2 no connection,
// 64 usage.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>
#include <vector>

#include "OPCDA.h"
#include "AddressSpaceCommands.h"
#include "ItemCommands.h"
#include "Output.h"
#include "ServerList.h"
#include "Session.h"
#include "ShutdownSink.h"
#include "SubscribeCommand.h"
#include "opc/ComText.h"

namespace {

using tw::opcda_cli::TCommand;
using tw::opcda_cli::TResult;

const char kUsage[] =
    "usage: opcda-cli [--json] [--shutdown-sink[=SECONDS]] SERVER COMMAND [ARGS]...\n"
    "       opcda-cli [--json] servers    the OPC DA 2.0 servers of this machine: ProgID and CLSID\n"
    "  SERVER     ProgID (e.g. VelmoraTarnowick.DA2.1) or CLSID in braces\n"
    "  status                         server status\n"
    "  groups                         names of the groups of this connection\n"
    "  add-group NAME [--rate MS] [--deadband PERCENT] [--inactive]\n"
    "  remove-group NAME [--force] [--keep]   (--keep: still hold the group while removing)\n"
    "  state NAME                     the group's state as the server holds it\n"
    "  error CODE [--common]          the server's text for a result code (0x... or decimal);\n"
    "                                 --common: through IOPCCommon\n"
    "  add GROUP ITEM[,ITEM...] [--inactive]   add items by name to a group added before\n"
    "  read GROUP [--cache | --async] read every item added to GROUP (from the device unless --cache;\n"
    "                                 --async: through IOPCAsyncIO2, awaiting the completion)\n"
    "  write GROUP ITEM=VALUE[,...] [--async]  write items added before (whole numbers as VT_I4,\n"
    "                                 else text)\n"
    "  browse [--filter PATTERN] [--access N] [--type VT] [--item-ids]   item names (PATTERN: * ? [a-z]\n"
    "                                 [!x]); --item-ids: each with its item id\n"
    "  properties ITEM [--item-ids]   every property of ITEM: id, description, type, value (and item id)\n"
    "  subscribe ITEM[,ITEM...] [--rate MS] [--duration SECONDS]   print every data change until\n"
    "                                 stopped or for SECONDS (--json: one JSON object per line)\n"
    "  --shutdown-sink: after the commands, wait (600 s or SECONDS) for the server's shutdown request,\n"
    "                   print its reason and let go\n";

bool ParseCommands(const std::vector<std::string>& words, std::vector<TCommand>& commands) {
    size_t i = 0;
    while (i < words.size()) {
        size_t positional = 0;
        if (!tw::opcda_cli::IsCommand(words[i], &positional) && !tw::opcda_cli::IsItemCommand(words[i], &positional) &&
            !tw::opcda_cli::IsAddressSpaceCommand(words[i], &positional) &&
            !tw::opcda_cli::IsSubscribeCommand(words[i], &positional))
            return false;
        TCommand c;
        c.name = words[i++];
        while (i < words.size() && !tw::opcda_cli::IsCommand(words[i], nullptr) &&
               !tw::opcda_cli::IsItemCommand(words[i], nullptr) &&
               !tw::opcda_cli::IsAddressSpaceCommand(words[i], nullptr) &&
               !tw::opcda_cli::IsSubscribeCommand(words[i], nullptr)) {
            const std::string& w = words[i++];
            if (w.rfind("--", 0) == 0 && w.size() > 2) {
                const bool takesValue =
                    w == "--rate" || w == "--deadband" || tw::opcda_cli::AddressSpaceOptionTakesValue(w) ||
                    tw::opcda_cli::SubscribeOptionTakesValue(w);
                if (takesValue && i >= words.size()) return false;
                c.options[w] = takesValue ? words[i++] : "";
            } else {
                c.args.push_back(w);
            }
        }
        if (c.args.size() != positional) return false;
        commands.push_back(c);
    }
    return !commands.empty();
}

int Finish(bool json, const std::string& server, int code, const std::string& error,
           const std::vector<TResult>& results) {
    if (json) {
        std::fputs(tw::opcda_cli::FormatJson(server, code == 0, error, results).c_str(), stdout);
    } else {
        std::fputs(tw::opcda_cli::FormatText(results).c_str(), stdout);
        if (!error.empty()) std::fprintf(stderr, "opcda-cli: %s\n", error.c_str());
    }
    return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) words.push_back(tw::opc::Narrow(argv[i]));
    bool json = false;
    if (!words.empty() && words[0] == "--json") {
        json = true;
        words.erase(words.begin());
    }
    int sinkSeconds = -1;  // no sink
    if (!words.empty() && tw::opcda_cli::ParseShutdownSinkOption(words[0], &sinkSeconds)) words.erase(words.begin());
    if (words.size() == 1 && words[0] == "servers") {
        if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return Finish(json, "", 2, "COM", {});
        const TResult listed = tw::opcda_cli::ListServers();
        CoUninitialize();
        return Finish(json, "", listed.hr == S_OK ? 0 : 1, "", {listed});
    }
    std::vector<TCommand> commands;
    if (words.size() < 2 || !ParseCommands({words.begin() + 1, words.end()}, commands)) {
        std::fputs(kUsage, stderr);
        return 64;
    }
    const std::string server = words[0];

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return Finish(json, server, 2, "COM", {});
    int code = 0;
    std::vector<TResult> results;
    std::string error;
    CLSID clsid;
    const std::wstring wide = tw::opc::Widen(server);
    HRESULT hr = wide.rfind(L"{", 0) == 0 ? CLSIDFromString(wide.c_str(), &clsid) : CLSIDFromProgID(wide.c_str(), &clsid);
    IOPCServer* opc = nullptr;
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer, reinterpret_cast<void**>(&opc));
    if (FAILED(hr)) {
        code = 2;
        error = "cannot connect to " + server + ": " + tw::opcda_cli::HexCode(hr);
    } else {
        {
            tw::opcda_cli::TSession session(opc);
            tw::opcda_cli::TItemCommands items(session);
            tw::opcda_cli::TAddressSpaceCommands space(session, opc);
            for (const TCommand& c : commands) {
                if (tw::opcda_cli::IsSubscribeCommand(c.name, nullptr)) {
                    results.push_back(tw::opcda_cli::RunSubscribe(session, items, c, json));
                    if (FAILED(results.back().hr)) code = 1;
                    continue;
                }
                results.push_back(tw::opcda_cli::IsItemCommand(c.name, nullptr)           ? items.Run(c)
                                  : tw::opcda_cli::IsAddressSpaceCommand(c.name, nullptr) ? space.Run(c)
                                                                                          : session.Run(c));
                if (FAILED(results.back().hr)) code = 1;
            }
            // Groups added above are held while waiting.
            if (sinkSeconds >= 0) {
                results.push_back(tw::opcda_cli::AwaitShutdownRequest(opc, sinkSeconds, !json));
                if (FAILED(results.back().hr)) code = 1;
            }
        }
        opc->Release();
    }
    CoUninitialize();
    return Finish(json, server, code, error, results);
}
