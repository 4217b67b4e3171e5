// Text at the COM boundary: the server keeps 8-bit text (UTF-8, so no client name is ever lost in a
// code page), the interfaces carry UTF-16, and strings handed to a client come from the task allocator.
#pragma once

#include <windows.h>

#include <string>

namespace tw::opc {

std::wstring Widen(const std::string& text);
std::string Narrow(const wchar_t* text);  // null gives ""
std::string GuidText(REFGUID guid);       // "{XXXXXXXX-...}"

// New wide copy allocated with CoTaskMemAlloc, or null when the allocation fails.
LPWSTR TaskStrDup(const std::string& text);
LPWSTR TaskStrDup(const std::wstring& text);

}  // namespace tw::opc
