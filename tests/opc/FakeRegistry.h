// An in-memory class registry that can refuse writes.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "opc/registration/Registry.h"

namespace tw::opc::test {

class TFakeRegistry : public IClassesRegistry {
public:
    bool SetDefaultValue(const std::string& key, const std::string& value) override;
    void DeleteKey(const std::string& key) override;

    std::map<std::string, std::string> Values;
    std::vector<std::string> Writes;   // keys in write order
    std::vector<std::string> Deletes;  // keys in deletion order
    int RefuseAfter = -1;              // writes accepted before every further one is refused
};

}  // namespace tw::opc::test
