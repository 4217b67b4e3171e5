#include "opc/registration/ClassRegistration.h"

#include <oleauto.h>

#include "Tarnowick.h"
#include "opc/ComText.h"
#include "opc/Guids.h"

namespace tw::opc {
namespace {

constexpr WORD kTypeLibMajor = 2;
constexpr WORD kTypeLibMinor = 0;
constexpr LCID kTypeLibLocale = 0x0409;
const char kTypeLibName[] = "Tarnowick";

std::string ClsidKey(const TComClassInfo& info) { return "CLSID\\" + GuidText(info.Clsid); }

// The library is registered under its own locale (0x0409), but the type library marshaler looks
// for the dual interface's library under the neutral locale only; without this entry a client in
// another process could not obtain IDA2.
std::wstring NeutralLocaleKey() { return Widen("TypeLib\\" + GuidText(LIBID_Tarnowick) + "\\2.0\\0"); }

}  // namespace

const std::vector<TComClassInfo>& ComClasses() {
    static const std::vector<TComClassInfo> classes = {
        {CLSID_DA2, "DA2", "Velmora DA Object", true},
        {CLSID_OPCGroup, "OPCGroup", "OPCGroup Object", true},
        {CLSID_OPCEnumerators, "TOPCStringsEnumerator", "VelmoraTarnowick", false},
        {CLSID_OPCEnumerators, "TMRDUnknownEnumerator", "VelmoraTarnowick", false},
        {CLSID_OPCItemAttEnumerator, "TOPCItemAttEnumerator", "VelmoraTarnowick", false},
    };
    return classes;
}

std::string ClassProgId(const TComClassInfo& info) { return std::string(kTypeLibName) + "." + info.ClassName; }

std::string LocalServerPath(const std::wstring& exePath) {
    if (exePath.find(L' ') == std::wstring::npos) return Narrow(exePath.c_str());
    wchar_t shortPath[MAX_PATH];
    const DWORD n = GetShortPathNameW(exePath.c_str(), shortPath, MAX_PATH);
    return Narrow(n > 0 && n < MAX_PATH ? shortPath : exePath.c_str());
}

void RegisterTypeLibrary(const std::wstring& exePath) {
    ITypeLib* tl = nullptr;
    if (FAILED(LoadTypeLibEx(exePath.c_str(), REGKIND_NONE, &tl))) throw TRegistrationError(kRegistryErrorText);
    std::wstring helpDir = exePath.substr(0, exePath.find_last_of(L"\\/") + 1);
    std::wstring path = exePath;
    const HRESULT hr = RegisterTypeLib(tl, path.data(), helpDir.data());
    tl->Release();
    if (FAILED(hr)) throw TRegistrationError(kRegistryErrorText);
    HKEY key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, (NeutralLocaleKey() + L"\\win64").c_str(), 0, nullptr, 0, KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        throw TRegistrationError(kRegistryErrorText);
    const LONG rc = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) throw TRegistrationError(kRegistryErrorText);
}

void RegisterComClasses(IClassesRegistry& registry, const std::wstring& exePath) {
    const std::string server = LocalServerPath(exePath);
    const std::string version = std::to_string(kTypeLibMajor) + "." + std::to_string(kTypeLibMinor);
    for (const TComClassInfo& c : ComClasses()) {
        const std::string key = ClsidKey(c), progId = ClassProgId(c);
        WriteDefaultValue(registry, key, c.Description);
        WriteDefaultValue(registry, key + "\\LocalServer32", server);
        WriteDefaultValue(registry, progId, c.Description);
        WriteDefaultValue(registry, progId + "\\Clsid", GuidText(c.Clsid));
        WriteDefaultValue(registry, key + "\\ProgID", progId);
        if (c.InTypeLibrary) {
            WriteDefaultValue(registry, key + "\\Version", version);
            WriteDefaultValue(registry, key + "\\TypeLib", GuidText(LIBID_Tarnowick));
        }
    }
}

void UnregisterTypeLibrary() {
    RegDeleteKeyW(HKEY_CLASSES_ROOT, (NeutralLocaleKey() + L"\\win64").c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, NeutralLocaleKey().c_str());
    UnRegisterTypeLib(LIBID_Tarnowick, kTypeLibMajor, kTypeLibMinor, kTypeLibLocale, SYS_WIN64);
}

void UnregisterComClasses(IClassesRegistry& registry) {
    for (const TComClassInfo& c : ComClasses()) {
        const std::string key = ClsidKey(c), progId = ClassProgId(c);
        if (c.InTypeLibrary) {
            registry.DeleteKey(key + "\\TypeLib");
            registry.DeleteKey(key + "\\Version");
        }
        registry.DeleteKey(key + "\\ProgID");
        registry.DeleteKey(progId + "\\Clsid");
        registry.DeleteKey(progId);
        registry.DeleteKey(key + "\\LocalServer32");
        registry.DeleteKey(key);
    }
}

}  // namespace tw::opc
