// What a connection point reports through EnumConnections: each sink with its cookie, in order.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <utility>
#include <vector>

namespace tw::opc::test {

using TConnections = std::vector<std::pair<IUnknown*, DWORD>>;

// Empty when the point cannot enumerate; the point keeps its own references to the sinks.
inline TConnections EnumeratedConnections(IConnectionPoint* cp) {
    TConnections found;
    IEnumConnections* connections = nullptr;
    if (FAILED(cp->EnumConnections(&connections)) || !connections) return found;
    CONNECTDATA cd{};
    ULONG n = 0;
    while (connections->Next(1, &cd, &n) == S_OK && n == 1) {
        found.emplace_back(cd.pUnk, cd.dwCookie);
        cd.pUnk->Release();
    }
    connections->Release();
    return found;
}

}  // namespace tw::opc::test
