#include "libs/LibraryModule.h"

#include <windows.h>

namespace tw {

std::shared_ptr<TLibraryModule> TLibraryModule::Load(const std::string& path) {
    HMODULE handle = LoadLibraryA(path.c_str());
    if (handle == nullptr) return nullptr;
    return std::shared_ptr<TLibraryModule>(new TLibraryModule(handle));
}

TLibraryModule::~TLibraryModule() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* TLibraryModule::Entry(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

int SystemPlainBox(const std::string& text, const std::string& caption, unsigned type) {
    return MessageBoxA(nullptr, text.c_str(), caption.c_str(), type);
}

}  // namespace tw
