// The single-instance guard's name: one process per executable path.
#pragma once

#include <functional>
#include <string>

namespace tw {

// "APPLICATION-" + the executable's full path with every "\" turned into "_", all upper-cased by
// `upper` (the platform's locale-aware upper-casing; ASCII when none is given).
std::string InstanceMutexName(const std::string& exePath,
                              const std::function<std::string(const std::string&)>& upper = {});

}  // namespace tw
