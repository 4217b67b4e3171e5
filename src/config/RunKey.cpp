#include "config/RunKey.h"

namespace tw {

bool SetRunOnStartup(IRunKey& registry, const std::string& valueName, const std::string& valueData, bool once,
                     bool remove) {
    const std::string key = std::string(kRunKey) + (once ? "Once" : "");
    // Changing the value needs rights that a normal user lacks under HKEY_LOCAL_MACHINE, reading it does
    // not: only a Save that would change something can fail.
    const std::optional<std::string> current = registry.ReadString(key, valueName);
    if (remove) return !current || registry.DeleteValue(key, valueName);
    return current == valueData || registry.WriteString(key, valueName, valueData);
}

}  // namespace tw
