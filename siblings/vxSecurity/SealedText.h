// The text form of an enciphered value: base64 of the DPAPI blob followed by a check value over the
// blob. Wine's DPAPI lets some damaged blobs through; the check refuses any altered byte.
#pragma once

#include <optional>
#include <string>

namespace vxsec {

std::string PackSealed(const std::string& blob);
// The blob, or nullopt when the text is not base64 or the check value does not match.
std::optional<std::string> UnpackSealed(const std::string& text);

}  // namespace vxsec
