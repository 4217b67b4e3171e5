#include "libs/DllSecurity.h"

namespace tw {

bool TDllSecurity::Bind(std::shared_ptr<TLibraryModule> module) {
    lib_.reset();
    if (!module) return false;
    auto e = std::make_shared<TEntries>();
    if (!module->Resolve("Encrypt", e->Encrypt) || !module->Resolve("Decrypt", e->Decrypt) ||
        !module->Resolve("FreeText", e->FreeText))
        return false;
    e->module = std::move(module);
    lib_ = std::move(e);
    return true;
}

std::optional<std::string> TDllSecurity::Call(TEncrypt fn, const std::string& text) const {
    char* out = nullptr;
    int length = 0;
    if (!fn(text.data(), static_cast<int>(text.size()), &out, &length)) return std::nullopt;
    std::string result = out ? std::string(out, static_cast<size_t>(length)) : std::string();
    lib_->FreeText(out);
    return result;
}

std::optional<std::string> TDllSecurity::Encrypt(const std::string& text) {
    return lib_ ? Call(lib_->Encrypt, text) : std::nullopt;
}

std::optional<std::string> TDllSecurity::Decrypt(const std::string& text) {
    return lib_ ? Call(lib_->Decrypt, text) : std::nullopt;
}

}  // namespace tw
