#include "opc/ComText.h"

#include <objbase.h>

#include <cstring>

namespace tw::opc {

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string Narrow(const wchar_t* text) {
    if (!text || !*text) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string GuidText(REFGUID guid) {
    wchar_t buf[40];
    StringFromGUID2(guid, buf, 40);
    return Narrow(buf);
}

LPWSTR TaskStrDup(const std::wstring& text) {
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (p) std::memcpy(p, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return p;
}

LPWSTR TaskStrDup(const std::string& text) { return TaskStrDup(Widen(text)); }

}  // namespace tw::opc
