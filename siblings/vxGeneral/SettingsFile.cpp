#include "SettingsFile.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace vxgen {
namespace {

std::string ExeFolder() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            std::string path(buffer.data(), n);
            size_t slash = path.find_last_of("\\/");
            return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        }
        buffer.resize(buffer.size() * 2);
    }
}

// A line break in a value would start a new key or section in the file.
std::string OneLine(std::string value) {
    std::replace(value.begin(), value.end(), '\r', ' ');
    std::replace(value.begin(), value.end(), '\n', ' ');
    return value;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::string SettingsPath(const std::string& fileName) {
    if (fileName.find_first_of("\\/:") != std::string::npos) return fileName;
    return ExeFolder() + fileName;
}

std::string ReadSettingStr(const std::string& section, const std::string& key, const std::string& fileName,
                           const std::string& defaultValue) {
    const std::string path = SettingsPath(fileName);
    std::vector<char> buffer(256);
    for (;;) {
        DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                           static_cast<DWORD>(buffer.size()), path.c_str());
        if (n + 1 < buffer.size()) return std::string(buffer.data(), n);
        buffer.resize(buffer.size() * 4);  // cut short: read again with room to spare
    }
}

bool ReadSettingBool(const std::string& section, const std::string& key, const std::string& fileName,
                     bool defaultValue) {
    std::string value = ReadSettingStr(section, key, fileName, "");
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t") + 1);
    value = Lower(value);
    if (value == "1" || value == "true") return true;
    if (value == "0" || value == "false") return false;
    return defaultValue;
}

void WriteSettingStr(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& fileName) {
    WritePrivateProfileStringA(OneLine(section).c_str(), OneLine(key).c_str(), OneLine(value).c_str(),
                               SettingsPath(fileName).c_str());
}

void WriteSettingBool(const std::string& section, const std::string& key, bool value, const std::string& fileName) {
    WriteSettingStr(section, key, value ? "1" : "0", fileName);
}

}  // namespace vxgen
