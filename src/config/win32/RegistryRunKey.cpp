#include "config/win32/RegistryRunKey.h"

#include <windows.h>

namespace tw {

std::optional<std::string> TRegistryRunKey::ReadString(const std::string& key, const std::string& name) {
    DWORD bytes = 0;
    LONG rc = RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
    if (rc == ERROR_FILE_NOT_FOUND) return std::nullopt;  // no key, or no value in it
    std::string data(bytes, '\0');
    if (rc == ERROR_SUCCESS && bytes > 0)
        rc = RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, data.data(), &bytes);
    if (rc != ERROR_SUCCESS) return std::string();  // there, but not readable as text
    data.resize(bytes > 0 ? bytes - 1 : 0);          // without the terminating null
    return data;
}

bool TRegistryRunKey::WriteString(const std::string& key, const std::string& name, const std::string& data) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG rc = RegSetValueExA(handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                   static_cast<DWORD>(data.size() + 1));
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS;
}

bool TRegistryRunKey::DeleteValue(const std::string& key, const std::string& name) {
    HKEY handle = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &handle);
    if (rc == ERROR_FILE_NOT_FOUND) return true;  // no key, so no value to remove
    if (rc != ERROR_SUCCESS) return false;
    rc = RegDeleteValueA(handle, name.c_str());
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

}  // namespace tw
