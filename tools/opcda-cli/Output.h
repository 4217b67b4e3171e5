// Results of opcda-cli commands, printed for people or, with --json, as one JSON document.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <utility>
#include <vector>

namespace tw::opcda_cli {

// One command's outcome: its name, the HRESULT, and named values in order.
struct TResult {
    std::string command;
    HRESULT hr = S_OK;
    std::string hrText;  // the server's text for hr when it is not S_OK
    std::vector<std::pair<std::string, std::string>> fields;   // strings
    std::vector<std::pair<std::string, long long>> numbers;     // numbers
    std::vector<std::string> list;                               // e.g. group names
};

std::string HexCode(HRESULT hr);
// "0xC0 (good)", "0x18 (bad comm failure)": the quality word in hex and by name.
std::string QualityText(WORD quality);
// "yyyy-mm-ddThh:mm:ss.mmmZ", or empty for a time that cannot be converted.
std::string UtcText(const FILETIME& ft);
std::string JsonEscape(const std::string& text);
// A value as text in the given locale; floats with the fewest digits that read back as the same value,
// whatever the locale ("123.456"); a VT_BOOL as "true" or "false". Empty for VT_EMPTY or a value that
// has no text.
std::string VariantText(const VARIANT& value, LCID locale);

// Human-readable lines, or the JSON document {"server":..., "ok":..., "results":[...]}.
std::string FormatText(const std::vector<TResult>& results);
std::string FormatJson(const std::string& server, bool ok, const std::string& error,
                       const std::vector<TResult>& results);

}  // namespace tw::opcda_cli
