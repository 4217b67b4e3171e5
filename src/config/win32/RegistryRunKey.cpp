#include "config/win32/RegistryRunKey.h"

#include <windows.h>

namespace tw {

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
