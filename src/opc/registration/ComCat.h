// Component category membership through the system's category manager.
#pragma once

#include <windows.h>

#include <string>

namespace tw::opc {

// Registers the category (description cut to 127 characters, the user's default locale) and lists
// clsid under it. COM is initialised for the calling thread meanwhile. Fails only when the category
// manager cannot be created; what the manager answers is not acted on.
HRESULT RegisterClassInCategory(REFCLSID clsid, REFGUID catid, const std::wstring& categoryDescription);
HRESULT UnregisterClassFromCategory(REFCLSID clsid, REFGUID catid);
// Removes the category itself once no class is listed under it; other servers of the category keep it.
// S_OK: removed; S_FALSE: still in use.
HRESULT UnregisterCategoryIfUnused(REFGUID catid);

}  // namespace tw::opc
