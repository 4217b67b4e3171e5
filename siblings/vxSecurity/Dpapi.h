// The machine's data-protection API: the password is bound to this computer, not to a key in our files.
#pragma once

#include <optional>
#include <string>

namespace vxsec {

std::optional<std::string> Protect(const std::string& plain);
// nullopt when the data was altered or protected elsewhere.
std::optional<std::string> Unprotect(const std::string& sealed);

}  // namespace vxsec
