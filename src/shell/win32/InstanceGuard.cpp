#include "shell/win32/InstanceGuard.h"

#include <vector>

#include "shell/AppInit.h"

namespace tw {

std::string ExecutablePath() {
    std::vector<char> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

std::string ExecutableFolder() {
    std::string path = ExecutablePath();
    std::string::size_type slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string OwnInstanceMutexName() {
    return InstanceMutexName(ExecutablePath(), [](const std::string& s) {
        std::string upper = s;
        if (!upper.empty()) CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
        return upper;
    });
}

bool TInstanceGuard::Acquire(const std::string& name) {
    if (HANDLE existing = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str())) {
        CloseHandle(existing);
        return false;
    }
    mutex_ = CreateMutexA(nullptr, FALSE, name.c_str());
    if (mutex_ && GetLastError() == ERROR_ALREADY_EXISTS) {
        // Another process created it between our open and create.
        CloseHandle(mutex_);
        mutex_ = nullptr;
    }
    return mutex_ != nullptr;
}

TInstanceGuard::~TInstanceGuard() {
    if (mutex_) CloseHandle(mutex_);
}

}  // namespace tw
