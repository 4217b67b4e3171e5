// The class registry (HKEY_CLASSES_ROOT) as registration needs it, behind an interface so that a
// refused write can be tested. The proxy/stubs, which write their own entries there, are registered
// through it too.
#pragma once

#include <stdexcept>
#include <string>

namespace tw::opc {

// Shown to the operator whenever a registry write is refused.
extern const char kRegistryErrorText[];

class TRegistrationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class IClassesRegistry {
public:
    virtual ~IClassesRegistry() = default;
    // Creates the key as needed and sets its default value; false when refused.
    virtual bool SetDefaultValue(const std::string& key, const std::string& value) = 0;
    // Deletes this one key; a key with subkeys stays. Failures are not reported.
    virtual void DeleteKey(const std::string& key) = 0;
    // The proxy/stubs that lie beside exePath: TarnowickPS.dll for 64-bit clients, x86\TarnowickPS32.dll
    // for 32-bit ones. Each registers itself in a process of its own bitness, so in the registry view
    // its clients read, and only for the interfaces that have no proxy/stub there. A file that is not
    // there is skipped. False when one could not be registered.
    virtual bool RegisterProxyStubs(const std::wstring& exePath) = 0;
    // Removes their entries where they are ours; false when a removal could not be run.
    virtual bool UnregisterProxyStubs(const std::wstring& exePath) = 0;
};

// HKEY_CLASSES_ROOT of this machine.
class TClassesRootRegistry final : public IClassesRegistry {
public:
    bool SetDefaultValue(const std::string& key, const std::string& value) override;
    void DeleteKey(const std::string& key) override;
    bool RegisterProxyStubs(const std::wstring& exePath) override;
    bool UnregisterProxyStubs(const std::wstring& exePath) override;
};

// Writes or raises TRegistrationError with kRegistryErrorText.
void WriteDefaultValue(IClassesRegistry& registry, const std::string& key, const std::string& value);

}  // namespace tw::opc
