// Registration of the process's COM classes and of the embedded type library, done at every start.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "opc/registration/Registry.h"

namespace tw::opc {

struct TComClassInfo {
    CLSID Clsid;
    std::string ClassName;
    std::string Description;
    bool InTypeLibrary;  // described by the type library: also gets Version and TypeLib keys
};

// In registration order: server, group, the two enumerators (one CLSID), item attributes enumerator.
const std::vector<TComClassInfo>& ComClasses();
// "Tarnowick." followed by the class name.
std::string ClassProgId(const TComClassInfo& info);

// LocalServer32 value: the path, or its short form when it contains a space.
std::string LocalServerPath(const std::wstring& exePath);

// Raise TRegistrationError on a refused write.
void RegisterTypeLibrary(const std::wstring& exePath);
void RegisterComClasses(IClassesRegistry& registry, const std::wstring& exePath);
// Removal never fails.
void UnregisterTypeLibrary();
void UnregisterComClasses(IClassesRegistry& registry);

}  // namespace tw::opc
