#include "FakeRegistry.h"

#include "opc/ComText.h"

namespace tw::opc::test {

bool TFakeRegistry::SetDefaultValue(const std::string& key, const std::string& value) {
    if (RefuseAfter >= 0 && static_cast<int>(Writes.size()) >= RefuseAfter) return false;
    Writes.push_back(key);
    Values[key] = value;
    return true;
}

void TFakeRegistry::DeleteKey(const std::string& key) {
    Deletes.push_back(key);
    // As in the registry: a key that still has subkeys stays.
    const std::string prefix = key + "\\";
    const auto next = Values.lower_bound(prefix);
    if (next != Values.end() && next->first.size() > prefix.size() &&
        !TKeyNameLess()(next->first.substr(0, prefix.size()), prefix) &&
        !TKeyNameLess()(prefix, next->first.substr(0, prefix.size())))
        return;
    Values.erase(key);
}

bool TFakeRegistry::RegisterProxyStubs(const std::wstring& exePath) {
    return SetDefaultValue(kProxyStubsKey, Narrow(exePath.c_str()));
}

bool TFakeRegistry::UnregisterProxyStubs(const std::wstring&) {
    if (RefuseUnregistering) return false;
    DeleteKey(kProxyStubsKey);
    return true;
}

}  // namespace tw::opc::test
