// The settings file through the Windows profile API, kept in the executable's folder.
#pragma once

#include <string>

namespace vxgen {

// A bare file name is placed in the executable's folder; a name with a folder is taken as given.
std::string SettingsPath(const std::string& fileName);

std::string ReadSettingStr(const std::string& section, const std::string& key, const std::string& fileName,
                           const std::string& defaultValue);
// "1"/"0", also "True"/"False" in any case; anything else gives the default.
bool ReadSettingBool(const std::string& section, const std::string& key, const std::string& fileName,
                     bool defaultValue);
void WriteSettingStr(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& fileName);
void WriteSettingBool(const std::string& section, const std::string& key, bool value, const std::string& fileName);

}  // namespace vxgen
