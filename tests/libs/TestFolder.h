// Helpers shared by the sibling-library tests: the test exe's folder and a private scratch folder.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace twtest {

inline std::filesystem::path ExeFolder() {
    char path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::filesystem::path(std::string(path, n)).parent_path();
}

// A fresh folder under the temporary folder, removed again on destruction.
class TScratchFolder {
public:
    explicit TScratchFolder(const std::string& name)
        : path_(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(GetCurrentProcessId()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace twtest
