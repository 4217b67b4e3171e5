// The class registry (HKEY_CLASSES_ROOT) as registration needs it, behind an interface so that a
// refused write can be tested.
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
};

// HKEY_CLASSES_ROOT of this machine.
class TClassesRootRegistry final : public IClassesRegistry {
public:
    bool SetDefaultValue(const std::string& key, const std::string& value) override;
    void DeleteKey(const std::string& key) override;
};

// Writes or raises TRegistrationError with kRegistryErrorText.
void WriteDefaultValue(IClassesRegistry& registry, const std::string& key, const std::string& value);

}  // namespace tw::opc
