#include "ItemCommands.h"

#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "opc/ComText.h"

namespace tw::opcda_cli {

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ','))
        if (!part.empty()) parts.push_back(part);
    return parts;
}

namespace {

using opc::Narrow;
using opc::Widen;

// The value as text (in the user's locale) with its variant type.
std::string ValueText(const VARIANT& value) {
    const std::string text = value.vt == VT_EMPTY ? "" : VariantText(value, 0x400);
    return (value.vt == VT_EMPTY || (text.empty() && value.vt != VT_BSTR) ? "(none)" : text) + " vt=" +
           std::to_string(value.vt);
}

// A whole number goes out as VT_I4 (out of the 32-bit range too, so the server can refuse it);
// anything else as text, for the server to convert or refuse.
VARIANT ParseValue(const std::string& text) {
    VARIANT v;
    VariantInit(&v);
    char* end = nullptr;
    const long long n = std::strtoll(text.c_str(), &end, 10);
    if (!text.empty() && *end == '\0' && n >= INT32_MIN && n <= INT32_MAX) {
        v.vt = VT_I4;
        v.lVal = static_cast<LONG>(n);
    } else if (!text.empty() && *end == '\0') {
        v.vt = VT_R8;
        v.dblVal = static_cast<double>(n);
    } else {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(Widen(text).c_str());
    }
    return v;
}

}  // namespace

bool IsItemCommand(const std::string& word, size_t* positional) {
    static const std::map<std::string, size_t> commands = {{"add", 2}, {"read", 1}, {"write", 2}};
    auto it = commands.find(word);
    if (it == commands.end()) return false;
    if (positional) *positional = it->second;
    return true;
}

TResult TItemCommands::Run(const TCommand& c) {
    TResult r;
    if (c.name == "add") r = Add(c);
    if (c.name == "read") r = Read(c);
    if (c.name == "write") r = Write(c);
    if (r.hrText.empty()) r.hrText = ErrorText(r.hr);
    return r;
}

template <class Itf>
Itf* TItemCommands::GroupInterface(const TCommand& c, REFIID iid, TResult& r) {
    r.command = c.name;
    r.fields.emplace_back("group", c.args[0]);
    IUnknown* unknown = session_.Group(c.args[0]);
    if (!unknown) {
        r.hr = E_INVALIDARG;
        r.hrText = "no group of that name was added in this session";
        return nullptr;
    }
    Itf* itf = nullptr;
    r.hr = unknown->QueryInterface(iid, reinterpret_cast<void**>(&itf));
    return SUCCEEDED(r.hr) ? itf : nullptr;
}

TResult TItemCommands::Add(const TCommand& c) {
    TResult r;
    IOPCItemMgt* mgt = GroupInterface<IOPCItemMgt>(c, IID_IOPCItemMgt, r);
    if (!mgt) return r;
    const std::vector<std::string> names = SplitList(c.args[1]);
    std::vector<std::wstring> wide;
    for (const std::string& n : names) wide.push_back(Widen(n));
    std::vector<OPCITEMDEF> defs(names.size());
    for (size_t i = 0; i < defs.size(); ++i) {
        defs[i] = OPCITEMDEF{};
        defs[i].szAccessPath = const_cast<LPWSTR>(L"");
        defs[i].szItemID = const_cast<LPWSTR>(wide[i].c_str());
        defs[i].bActive = c.options.count("--inactive") ? FALSE : TRUE;
        defs[i].hClient = static_cast<OPCHANDLE>(items_[c.args[0]].size() + i + 1);
        defs[i].vtRequestedDataType = VT_EMPTY;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    r.hr = defs.empty() ? E_INVALIDARG
                        : mgt->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
    mgt->Release();
    if (FAILED(r.hr)) return r;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string line = names[i] + ": ";
        if (errors[i] == S_OK) {
            // Only an analog item has units, and its canonical type is a float.
            const bool analog = results[i].vtCanonicalDataType == VT_R8 || results[i].vtCanonicalDataType == VT_R4;
            items_[c.args[0]].push_back({names[i], results[i].hServer, analog ? session_.Units(names[i]) : ""});
            line += "serverHandle=" + std::to_string(results[i].hServer) +
                    " canonicalType=" + std::to_string(results[i].vtCanonicalDataType) +
                    " accessRights=" + std::to_string(results[i].dwAccessRights);
        } else {
            line += "error=" + HexCode(errors[i]) + " " + ErrorText(errors[i]);
        }
        r.list.push_back(line);
        CoTaskMemFree(results[i].pBlob);
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return r;
}

std::vector<std::string> TItemCommands::Units(const std::string& group) const {
    std::vector<std::string> units;
    auto found = items_.find(group);
    if (found != items_.end())
        for (const TItem& item : found->second) units.push_back(item.units);
    return units;
}

TResult TItemCommands::Read(const TCommand& c) {
    TResult r;
    IOPCSyncIO* io = GroupInterface<IOPCSyncIO>(c, IID_IOPCSyncIO, r);
    if (!io) return r;
    const std::vector<TItem>& items = items_[c.args[0]];
    std::vector<OPCHANDLE> handles;
    for (const TItem& item : items) handles.push_back(item.serverHandle);
    const OPCDATASOURCE source = c.options.count("--cache") ? OPC_DS_CACHE : OPC_DS_DEVICE;
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    r.hr = handles.empty() ? E_INVALIDARG
                           : io->Read(source, static_cast<DWORD>(handles.size()), handles.data(), &states, &errors);
    io->Release();
    if (FAILED(r.hr)) {
        if (handles.empty()) r.hrText = "no items were added to this group in this session";
        return r;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        std::string line = items[i].name + ": ";
        if (errors[i] == S_OK || states[i].wQuality != 0 || states[i].vDataValue.vt != VT_EMPTY)
            line += "value=" + ValueText(states[i].vDataValue) +
                    (items[i].units.empty() ? "" : " units=" + items[i].units) +
                    " quality=" + QualityText(states[i].wQuality) + " time=" + UtcText(states[i].ftTimeStamp);
        if (errors[i] != S_OK) line += " error=" + HexCode(errors[i]) + " " + ErrorText(errors[i]);
        r.list.push_back(line);
        VariantClear(&states[i].vDataValue);
    }
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    return r;
}

TResult TItemCommands::Write(const TCommand& c) {
    TResult r;
    IOPCSyncIO* io = GroupInterface<IOPCSyncIO>(c, IID_IOPCSyncIO, r);
    if (!io) return r;
    std::vector<std::string> names;
    std::vector<OPCHANDLE> handles;
    std::vector<VARIANT> values;
    for (const std::string& pair : SplitList(c.args[1])) {
        const size_t eq = pair.find('=');
        const std::string name = pair.substr(0, eq);
        OPCHANDLE handle = 0;  // a name not added in this session: the server reports the handle
        for (const TItem& item : items_[c.args[0]])
            if (item.name == name) handle = item.serverHandle;
        names.push_back(name);
        handles.push_back(handle);
        values.push_back(ParseValue(eq == std::string::npos ? "" : pair.substr(eq + 1)));
    }
    HRESULT* errors = nullptr;
    r.hr = handles.empty() ? E_INVALIDARG
                           : io->Write(static_cast<DWORD>(handles.size()), handles.data(), values.data(), &errors);
    io->Release();
    for (VARIANT& v : values) VariantClear(&v);
    if (FAILED(r.hr)) return r;
    for (size_t i = 0; i < names.size(); ++i)
        r.list.push_back(names[i] + ": " + (errors[i] == S_OK ? "ok" : "error=" + HexCode(errors[i]) + " " +
                                                                          ErrorText(errors[i])));
    CoTaskMemFree(errors);
    return r;
}

}  // namespace tw::opcda_cli
