#include "opc/registration/Registry.h"

#include <windows.h>

#include "opc/ComText.h"

namespace tw::opc {

const char kRegistryErrorText[] = "Error creating system registry entry";

namespace {

// Long enough for a slow machine; a regsvr32 that takes longer has hung (a message box, say).
constexpr DWORD kRegsvr32TimeoutMs = 60000;

struct TProxyStubFile {
    const wchar_t* name;  // beside the exe
    bool wow64;           // a 32-bit DLL: registered by the 32-bit regsvr32, in the 32-bit view
};
constexpr TProxyStubFile kProxyStubFiles[] = {{L"TarnowickPS.dll", false}, {L"x86\\TarnowickPS32.dll", true}};

std::wstring Regsvr32(bool wow64) {
    wchar_t dir[MAX_PATH];
    const UINT n = wow64 ? GetSystemWow64DirectoryW(dir, MAX_PATH) : GetSystemDirectoryW(dir, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(dir, n) + L"\\regsvr32.exe" : L"";
}

// regsvr32 /s [/u] dll, run without a window; true when it reports success.
bool RunRegsvr32(bool wow64, const std::wstring& dll, bool unregister) {
    const std::wstring program = Regsvr32(wow64);
    if (program.empty()) return false;
    std::wstring line = L"\"" + program + L"\" /s " + (unregister ? L"/u " : L"") + L"\"" + dll + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    DWORD code = 1;
    if (WaitForSingleObject(pi.hProcess, kRegsvr32TimeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(pi.hProcess, &code);
    } else {
        TerminateProcess(pi.hProcess, 1);
    }
    CloseHandle(pi.hProcess);
    return code == 0;
}

bool ForEachProxyStub(const std::wstring& exePath, bool unregister) {
    const std::wstring folder = exePath.substr(0, exePath.find_last_of(L"\\/") + 1);
    bool ok = true;
    for (const TProxyStubFile& file : kProxyStubFiles) {
        const std::wstring dll = folder + file.name;
        if (GetFileAttributesW(dll.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        // Removal goes on past a failure: whatever can be removed is.
        if (!RunRegsvr32(file.wow64, dll, unregister)) {
            ok = false;
            if (!unregister) break;
        }
    }
    return ok;
}

}  // namespace

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

bool TClassesRootRegistry::RegisterProxyStubs(const std::wstring& exePath) { return ForEachProxyStub(exePath, false); }

bool TClassesRootRegistry::UnregisterProxyStubs(const std::wstring& exePath) { return ForEachProxyStub(exePath, true); }

void WriteDefaultValue(IClassesRegistry& registry, const std::string& key, const std::string& value) {
    if (!registry.SetDefaultValue(key, value)) throw TRegistrationError(kRegistryErrorText);
}

}  // namespace tw::opc
