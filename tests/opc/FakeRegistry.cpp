#include "FakeRegistry.h"

namespace tw::opc::test {

bool TFakeRegistry::SetDefaultValue(const std::string& key, const std::string& value) {
    if (RefuseAfter >= 0 && static_cast<int>(Writes.size()) >= RefuseAfter) return false;
    Writes.push_back(key);
    Values[key] = value;
    return true;
}

void TFakeRegistry::DeleteKey(const std::string& key) {
    Deletes.push_back(key);
    Values.erase(key);
}

}  // namespace tw::opc::test
