// ISecurity over the entries of vxSecurity.dll. Unbound, both operations give nullopt.
#pragma once

#include <memory>

#include "libs/LibraryModule.h"
#include "libs/Security.h"
#include "libs/SecurityAbi.h"

namespace tw {

class TDllSecurity : public ISecurity {
public:
    bool Bind(std::shared_ptr<TLibraryModule> module);
    void Unbind() { lib_.reset(); }

    bool Loaded() const override { return lib_ != nullptr; }
    std::optional<std::string> Encrypt(const std::string& text) override;
    std::optional<std::string> Decrypt(const std::string& text) override;

private:
    struct TEntries {
        std::shared_ptr<TLibraryModule> module;
        TEncrypt Encrypt;
        TDecrypt Decrypt;
        TSecurityFreeText FreeText;
    };
    std::optional<std::string> Call(TEncrypt fn, const std::string& text) const;

    std::shared_ptr<const TEntries> lib_;
};

}  // namespace tw
