// Starting with Windows: the Run value under HKEY_LOCAL_MACHINE, behind a port so the logic stays
// platform-neutral.
#pragma once

#include <optional>
#include <string>

namespace tw {

inline constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kRunValueName[] = "Velmora Tarnowick";
inline constexpr char kExeFileName[] = "Tarnowick.exe";

class IRunKey {
public:
    virtual ~IRunKey() = default;
    // HKEY_LOCAL_MACHINE\key: the value's data; nullopt when the key or the value is not there. A value
    // that is there but cannot be read gives empty data.
    virtual std::optional<std::string> ReadString(const std::string& key, const std::string& name) = 0;
    // HKEY_LOCAL_MACHINE\key: false when the key cannot be opened or the value not written.
    virtual bool WriteString(const std::string& key, const std::string& name, const std::string& data) = 0;
    // false when the key cannot be opened or the value not removed; a value that is not there is no failure.
    virtual bool DeleteValue(const std::string& key, const std::string& name) = 0;
};

// Writes (remove false) or removes (remove true) the value under the Run key, or RunOnce when once is set.
// A value already as wanted (absent, or holding valueData) is left alone: true without a change.
bool SetRunOnStartup(IRunKey& registry, const std::string& valueName, const std::string& valueData, bool once,
                     bool remove);

}  // namespace tw
