#include "opc/server/TypeLibInfo.h"

#include <oleauto.h>

namespace tw::opc {

ITypeInfo* TypeInfoOf(REFGUID guid) {
    // Loaded once per process and kept: every server object needs it.
    static ITypeLib* library = [] {
        wchar_t exe[MAX_PATH];
        ITypeLib* tl = nullptr;
        if (GetModuleFileNameW(nullptr, exe, MAX_PATH) && FAILED(LoadTypeLibEx(exe, REGKIND_NONE, &tl))) tl = nullptr;
        return tl;
    }();
    ITypeInfo* info = nullptr;
    if (library && FAILED(library->GetTypeInfoOfGuid(guid, &info))) info = nullptr;
    return info;
}

}  // namespace tw::opc
