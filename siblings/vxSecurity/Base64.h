// Base64 (RFC 4648, with padding, no line breaks): the enciphered password must fit one INI value.
#pragma once

#include <optional>
#include <string>

namespace vxsec {

std::string Base64Encode(const std::string& bytes);
// nullopt for anything that is not canonical base64: a damaged value must not decode to some text.
std::optional<std::string> Base64Decode(const std::string& text);

}  // namespace vxsec
