// An in-memory class registry that can refuse writes. Keys hold default values only.
#pragma once

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "opc/registration/Registry.h"

namespace tw::opc::test {

// Key names compare without regard to case, as in the system registry.
struct TKeyNameLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
        });
    }
};

class TFakeRegistry : public IClassesRegistry {
public:
    bool SetDefaultValue(const std::string& key, const std::string& value) override;
    void DeleteKey(const std::string& key) override;
    // Kept as the key kProxyStubsKey with the exe path as its value; a refused write refuses them too.
    bool RegisterProxyStubs(const std::wstring& exePath) override;
    bool UnregisterProxyStubs(const std::wstring& exePath) override;
    static constexpr const char* kProxyStubsKey = "(proxy/stubs)";

    std::map<std::string, std::string, TKeyNameLess> Values;
    std::vector<std::string> Writes;   // keys in write order
    std::vector<std::string> Deletes;  // keys in deletion order
    int RefuseAfter = -1;              // writes accepted before every further one is refused
    bool RefuseUnregistering = false;  // proxy/stubs whose removal cannot be run
};

}  // namespace tw::opc::test
