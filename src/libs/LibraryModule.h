// A loaded DLL. Shared by everything that holds entries of it, so the DLL stays mapped until the last
// holder (an adapter, or a result set still alive) lets go.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tw {

class TLibraryModule {
public:
    // nullptr when the file does not load.
    static std::shared_ptr<TLibraryModule> Load(const std::string& path);
    ~TLibraryModule();
    TLibraryModule(const TLibraryModule&) = delete;
    TLibraryModule& operator=(const TLibraryModule&) = delete;

    // The entry's address, or nullptr when the DLL does not export it.
    void* Entry(const char* name) const;
    // Resolves an entry into a typed pointer; false when it is missing.
    template <class Fn>
    bool Resolve(const char* name, Fn& fn) const {
        fn = reinterpret_cast<Fn>(Entry(name));
        return fn != nullptr;
    }

private:
    explicit TLibraryModule(void* handle) : handle_(handle) {}
    void* handle_;
};

// The plain system message box (MessageBoxA without an owner): text, caption, MB_* type; returns
// the ID* answer. Replaceable so that tests of the fallbacks do not block on a real box.
using TPlainBox = std::function<int(const std::string& text, const std::string& caption, unsigned type)>;
int SystemPlainBox(const std::string& text, const std::string& caption, unsigned type);

}  // namespace tw
