// The settings-password cipher of the security library.
#pragma once

#include <optional>
#include <string>

namespace tw {

class ISecurity {
public:
    virtual ~ISecurity() = default;
    virtual bool Loaded() const = 0;
    // Enciphered form as one line of printable text; nullopt when it cannot be enciphered.
    virtual std::optional<std::string> Encrypt(const std::string& text) = 0;
    // nullopt when the text cannot be deciphered (tampered, foreign machine, library missing):
    // such a value must never match what an operator types. Decrypt("") gives "".
    virtual std::optional<std::string> Decrypt(const std::string& text) = 0;
};

}  // namespace tw
