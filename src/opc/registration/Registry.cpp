#include "opc/registration/Registry.h"

#include <windows.h>

#include "opc/ComText.h"

namespace tw::opc {

const char kRegistryErrorText[] = "Error creating system registry entry";

bool TClassesRootRegistry::SetDefaultValue(const std::string& key, const std::string& value) {
    HKEY h;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, Widen(key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const std::wstring v = Widen(value);
    const LONG rc = RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                                   static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

void TClassesRootRegistry::DeleteKey(const std::string& key) { RegDeleteKeyW(HKEY_CLASSES_ROOT, Widen(key).c_str()); }

void WriteDefaultValue(IClassesRegistry& registry, const std::string& key, const std::string& value) {
    if (!registry.SetDefaultValue(key, value)) throw TRegistrationError(kRegistryErrorText);
}

}  // namespace tw::opc
