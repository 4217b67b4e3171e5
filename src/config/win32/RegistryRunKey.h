// The Run value in the Windows registry, under HKEY_LOCAL_MACHINE.
#pragma once

#include "config/RunKey.h"

namespace tw {

class TRegistryRunKey : public IRunKey {
public:
    std::optional<std::string> ReadString(const std::string& key, const std::string& name) override;
    bool WriteString(const std::string& key, const std::string& name, const std::string& data) override;
    bool DeleteValue(const std::string& key, const std::string& name) override;
};

}  // namespace tw
