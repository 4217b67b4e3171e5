// The named mutex that admits one process per executable path.
#pragma once

#include <windows.h>

#include <string>

namespace tw {

// The running executable's full path, 8-bit.
std::string ExecutablePath();
// Its folder with the trailing separator.
std::string ExecutableFolder();

class TInstanceGuard {
public:
    TInstanceGuard() = default;
    TInstanceGuard(const TInstanceGuard&) = delete;
    TInstanceGuard& operator=(const TInstanceGuard&) = delete;
    ~TInstanceGuard();

    // true when this process is the first instance for `name`.
    bool Acquire(const std::string& name);

private:
    HANDLE mutex_ = nullptr;  // held only by the first instance
};

// The mutex name for this executable, upper-cased the way the system's locale does it.
std::string OwnInstanceMutexName();

}  // namespace tw
