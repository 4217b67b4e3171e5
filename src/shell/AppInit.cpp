#include "shell/AppInit.h"

#include <cctype>

namespace tw {

std::string InstanceMutexName(const std::string& exePath,
                              const std::function<std::string(const std::string&)>& upper) {
    std::string name = "APPLICATION-" + exePath;
    for (char& c : name)
        if (c == '\\') c = '_';
    if (upper) return upper(name);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

}  // namespace tw
