// A hostile OPC client, generated from a table of every method the server exposes: it calls them
// with NULL for each pointer in turn, counts of 0, 1, 1000 and 0xFFFFFFFF, handles that are invalid,
// stale or someone else's, values of every VARTYPE, huge and odd texts, absurd rates and deadbands;
// it releases references in random order, unadvises stale cookies and keeps using removed groups.
// Every call must come back with an HRESULT and leave each [out] pointer it was given NULL or a
// valid task allocation (the run frees them); anything else is a fault.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tw::opc::hostile {

struct TEnvironment {
    // In-process the server can be handed what only a broken in-process client passes: counts of
    // 0xFFFFFFFF with short arrays, odd VARIANTs the proxy would refuse to marshal, slot exhaustion.
    bool inProcess = true;
    // A new server object (IOPCServer, one reference), or a failure.
    std::function<HRESULT(IUnknown** server)> createServer;
    // Lets the server run its update pass: in-process a pulse, across processes a moment of
    // message handling, in which callbacks arrive.
    std::function<void()> pulse;
    // Tags the server knows; the run adds names it does not know.
    std::vector<std::wstring> tagNames;
    // Stops the run early (a time limit), checked between calls.
    std::function<bool()> stop;
};

struct TRunResult {
    std::size_t calls = 0;                    // COM calls made on the server's objects
    std::size_t faults = 0;                   // all faults, repeats included
    std::vector<std::string> distinctFaults;  // each fault once, with the call that first showed it
    std::size_t callbacks = 0;                // callbacks the test's sinks received
};

// Runs `calls` generated calls from `seed`: first every method once with all pointers given and
// once with each pointer NULL, then random calls; then lets go of everything it holds.
TRunResult RunHostile(const TEnvironment& env, uint64_t seed, std::size_t calls);

// The seed from TW_HOSTILE_SEED (a number, or "random" for one drawn from the clock), else fallback.
uint64_t SeedFromEnvironment(uint64_t fallback);
// A count from the named environment variable, else fallback.
std::size_t CountFromEnvironment(const char* name, std::size_t fallback);

}  // namespace tw::opc::hostile
