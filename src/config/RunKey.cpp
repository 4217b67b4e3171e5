#include "config/RunKey.h"

namespace tw {

bool SetRunOnStartup(IRunKey& registry, const std::string& valueName, const std::string& valueData, bool once,
                     bool remove) {
    const std::string key = std::string(kRunKey) + (once ? "Once" : "");
    return remove ? registry.DeleteValue(key, valueName) : registry.WriteString(key, valueName, valueData);
}

}  // namespace tw
