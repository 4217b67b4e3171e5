// opcda-cli [--json] SERVER COMMAND [ARGS] [COMMAND [ARGS]]...
// SERVER is a ProgID or a CLSID in braces; the server is created with CLSCTX_LOCAL_SERVER. Commands
// run in order over one connection. Exit code: 0 all succeeded, 1 a command failed, 2 no connection,
// 64 usage.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>
#include <vector>

#include "OPCDA.h"
#include "Output.h"
#include "Session.h"
#include "opc/ComText.h"

namespace {

using tw::opcda_cli::TCommand;
using tw::opcda_cli::TResult;

const char kUsage[] =
    "usage: opcda-cli [--json] SERVER COMMAND [ARGS]...\n"
    "  SERVER     ProgID (e.g. VelmoraTarnowick.DA2.1) or CLSID in braces\n"
    "  status                         server status\n"
    "  groups                         names of the groups of this connection\n"
    "  add-group NAME [--rate MS] [--deadband PERCENT] [--inactive]\n"
    "  remove-group NAME [--force] [--keep]   (--keep: still hold the group while removing)\n"
    "  error CODE                     the server's text for a result code (0x... or decimal)\n";

bool ParseCommands(const std::vector<std::string>& words, std::vector<TCommand>& commands) {
    size_t i = 0;
    while (i < words.size()) {
        size_t positional = 0;
        if (!tw::opcda_cli::IsCommand(words[i], &positional)) return false;
        TCommand c;
        c.name = words[i++];
        while (i < words.size() && !tw::opcda_cli::IsCommand(words[i], nullptr)) {
            const std::string& w = words[i++];
            if (w.rfind("--", 0) == 0 && w.size() > 2) {
                const bool takesValue = w == "--rate" || w == "--deadband";
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
            for (const TCommand& c : commands) {
                results.push_back(session.Run(c));
                if (FAILED(results.back().hr)) code = 1;
            }
        }
        opc->Release();
    }
    CoUninitialize();
    return Finish(json, server, code, error, results);
}
