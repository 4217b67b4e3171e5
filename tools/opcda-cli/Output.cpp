#include "Output.h"

#include <cstdio>
#include <sstream>

#include <oleauto.h>

#include "opc/ComText.h"
#include "values/Quality.h"
#include "values/TypedValue.h"

namespace tw::opcda_cli {

std::string HexCode(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
    return buf;
}

std::string QualityText(WORD quality) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", quality);
    return std::string(hex) + " (" + QualityName(quality) + ")";
}

std::string UtcText(const FILETIME& ft) {
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&ft, &st)) return "";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond, st.wMilliseconds);
    return buf;
}

std::string JsonEscape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

std::string FormatText(const std::vector<TResult>& results) {
    std::ostringstream out;
    for (const TResult& r : results) {
        out << r.command << ": " << (r.hr == S_OK ? "ok" : HexCode(r.hr));
        if (!r.hrText.empty()) out << " (" << r.hrText << ")";
        out << "\n";
        for (const auto& [name, value] : r.numbers) out << "  " << name << ": " << value << "\n";
        for (const auto& [name, value] : r.fields) out << "  " << name << ": " << value << "\n";
        for (const std::string& item : r.list) out << "  - " << item << "\n";
    }
    return out.str();
}

std::string FormatJson(const std::string& server, bool ok, const std::string& error,
                       const std::vector<TResult>& results) {
    std::ostringstream out;
    out << "{\"server\":\"" << JsonEscape(server) << "\",\"ok\":" << (ok ? "true" : "false");
    if (!error.empty()) out << ",\"error\":\"" << JsonEscape(error) << "\"";
    out << ",\"results\":[";
    for (size_t i = 0; i < results.size(); ++i) {
        const TResult& r = results[i];
        out << (i ? "," : "") << "{\"command\":\"" << JsonEscape(r.command) << "\",\"hr\":\"" << HexCode(r.hr)
            << "\"";
        if (!r.hrText.empty()) out << ",\"hrText\":\"" << JsonEscape(r.hrText) << "\"";
        for (const auto& [name, value] : r.numbers) out << ",\"" << name << "\":" << value;
        for (const auto& [name, value] : r.fields) out << ",\"" << name << "\":\"" << JsonEscape(value) << "\"";
        if (!r.list.empty()) {
            out << ",\"items\":[";
            for (size_t j = 0; j < r.list.size(); ++j) out << (j ? "," : "") << "\"" << JsonEscape(r.list[j]) << "\"";
            out << "]";
        }
        out << "}";
    }
    out << "]}\n";
    return out.str();
}

std::string VariantText(const VARIANT& value, LCID locale) {
    if (value.vt == VT_R4) return ShortestText(value.fltVal);
    if (value.vt == VT_R8) return ShortestText(value.dblVal);
    // As text a VT_BOOL would be "0" or "-1".
    if (value.vt == VT_BOOL) return value.boolVal ? "true" : "false";
    VARIANT text;
    VariantInit(&text);
    std::string out;
    if (value.vt != VT_EMPTY && SUCCEEDED(VariantChangeTypeEx(&text, const_cast<VARIANT*>(&value), locale, 0, VT_BSTR)))
        out = opc::Narrow(text.bstrVal);
    VariantClear(&text);
    return out;
}

}  // namespace tw::opcda_cli
