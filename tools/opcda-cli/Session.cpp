#include "Session.h"

#include <cstdio>
#include <cstdlib>

#include "OPCCOMN.h"
#include "opc/ComText.h"

namespace tw::opcda_cli {
namespace {

using opc::Narrow;
using opc::Widen;

const char* StateName(OPCSERVERSTATE s) {
    switch (s) {
        case OPC_STATUS_RUNNING: return "running";
        case OPC_STATUS_FAILED: return "failed";
        case OPC_STATUS_NOCONFIG: return "noconfig";
        case OPC_STATUS_SUSPENDED: return "suspended";
        case OPC_STATUS_TEST: return "test";
        default: return "unknown";
    }
}

// A string the server returned with a success code goes into the named field and is freed. None at all
// is a marshalling fault (the proxy lost it): E_POINTER, and false.
bool TakeString(LPWSTR text, const char* field, const char* what, TResult& r) {
    if (!text) {
        r.hr = E_POINTER;
        r.hrText = std::string(what) + " did not arrive";
        return false;
    }
    r.fields.emplace_back(field, Narrow(text));
    CoTaskMemFree(text);
    return true;
}

}  // namespace

void DrainStrings(IEnumString* strings, std::vector<std::string>& into) {
    LPOLESTR got[16];
    ULONG fetched = 0;
    HRESULT hr;
    do {
        fetched = 0;
        hr = strings->Next(16, got, &fetched);
        for (ULONG i = 0; i < fetched; ++i) {
            into.push_back(Narrow(got[i]));
            CoTaskMemFree(got[i]);
        }
    } while (hr == S_OK && fetched > 0);
}

bool IsCommand(const std::string& word, size_t* positional) {
    static const std::map<std::string, size_t> commands = {
        {"status", 0}, {"groups", 0}, {"add-group", 1}, {"remove-group", 1}, {"state", 1}, {"error", 1}};
    auto it = commands.find(word);
    if (it == commands.end()) return false;
    if (positional) *positional = it->second;
    return true;
}

TSession::~TSession() {
    for (auto& [name, ref] : groups_) ref.unknown->Release();
}

std::string TSession::ServerText(HRESULT hr) {
    if (hr == S_OK) return "";
    LPWSTR text = nullptr;
    if (FAILED(server_->GetErrorString(hr, 0x409, &text)) || !text) return "";
    std::string out = Narrow(text);
    CoTaskMemFree(text);
    return out;
}

std::string TSession::Units(const std::string& item) {
    IOPCItemProperties* props = nullptr;
    if (FAILED(server_->QueryInterface(IID_IOPCItemProperties, reinterpret_cast<void**>(&props)))) return "";
    std::wstring id = opc::Widen(item);
    DWORD units = 100;
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    std::string out;
    if (SUCCEEDED(props->GetItemProperties(id.data(), 1, &units, &values, &errors)) && values && errors) {
        if (errors[0] == S_OK && values[0].vt == VT_BSTR && values[0].bstrVal) out = Narrow(values[0].bstrVal);
        VariantClear(&values[0]);
    }
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    props->Release();
    return out;
}

TResult TSession::Run(const TCommand& c) {
    TResult r;
    if (c.name == "status") r = Status();
    if (c.name == "groups") r = Groups();
    if (c.name == "add-group") r = AddGroup(c);
    if (c.name == "remove-group") r = RemoveGroup(c);
    if (c.name == "state") r = GroupState(c);
    if (c.name == "error") r = ErrorText(c);
    if (r.hrText.empty()) r.hrText = ServerText(r.hr);
    return r;
}

TResult TSession::Status() {
    TResult r;
    r.command = "status";
    OPCSERVERSTATUS* st = nullptr;
    r.hr = server_->GetStatus(&st);
    if (FAILED(r.hr) || !st) return r;
    r.fields.emplace_back("state", StateName(st->dwServerState));
    r.fields.emplace_back("version", std::to_string(st->wMajorVersion) + "." + std::to_string(st->wMinorVersion) +
                                         "." + std::to_string(st->wBuildNumber));
    r.fields.emplace_back("vendor", Narrow(st->szVendorInfo));
    r.fields.emplace_back("startTime", UtcText(st->ftStartTime));
    r.fields.emplace_back("currentTime", UtcText(st->ftCurrentTime));
    r.fields.emplace_back("lastUpdateTime", UtcText(st->ftLastUpdateTime));
    r.numbers.emplace_back("groupCount", st->dwGroupCount);
    r.numbers.emplace_back("bandWidth", st->dwBandWidth);
    CoTaskMemFree(st->szVendorInfo);
    CoTaskMemFree(st);
    return r;
}

TResult TSession::Groups() {
    TResult r;
    r.command = "groups";
    IUnknown* u = nullptr;
    r.hr = server_->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, &u);
    if (FAILED(r.hr) || !u) return r;
    IEnumString* e = nullptr;
    if (SUCCEEDED(u->QueryInterface(IID_IEnumString, reinterpret_cast<void**>(&e)))) {
        DrainStrings(e, r.list);
        e->Release();
    }
    u->Release();
    r.numbers.emplace_back("count", static_cast<long long>(r.list.size()));
    if (r.hr == S_FALSE) r.hr = S_OK;  // an empty list is not a failure
    return r;
}

TResult TSession::AddGroup(const TCommand& c) {
    TResult r;
    r.command = "add-group";
    const std::string& name = c.args[0];
    auto opt = [&](const char* key, const char* dflt) {
        auto it = c.options.find(key);
        return it == c.options.end() ? std::string(dflt) : it->second;
    };
    const DWORD rate = static_cast<DWORD>(std::strtoul(opt("--rate", "1000").c_str(), nullptr, 10));
    FLOAT deadband = std::strtof(opt("--deadband", "0").c_str(), nullptr);
    const BOOL active = c.options.count("--inactive") ? FALSE : TRUE;
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    IUnknown* group = nullptr;
    r.hr = server_->AddGroup(Widen(name).c_str(), active, rate, 1, nullptr, &deadband, 0x409, &handle, &revised,
                             IID_IUnknown, &group);
    r.fields.emplace_back("name", name);
    if (FAILED(r.hr)) return r;
    r.numbers.emplace_back("serverHandle", handle);
    r.numbers.emplace_back("revisedUpdateRate", revised);
    auto old = groups_.find(name);
    if (old != groups_.end()) old->second.unknown->Release();
    groups_[name] = {handle, group};
    return r;
}

TResult TSession::RemoveGroup(const TCommand& c) {
    TResult r;
    r.command = "remove-group";
    const std::string& name = c.args[0];
    r.fields.emplace_back("name", name);
    auto it = groups_.find(name);
    if (it == groups_.end()) {
        r.hr = E_INVALIDARG;
        r.hrText = "no group of that name was added in this session";
        return r;
    }
    const OPCHANDLE handle = it->second.handle;
    // Letting go first: the server then destroys the group, and RemoveGroup confirms it.
    if (!c.options.count("--keep")) {
        it->second.unknown->Release();
        groups_.erase(it);
    }
    r.hr = server_->RemoveGroup(handle, c.options.count("--force") ? TRUE : FALSE);
    r.numbers.emplace_back("serverHandle", handle);
    return r;
}

TResult TSession::GroupState(const TCommand& c) {
    TResult r;
    r.command = "state";
    r.fields.emplace_back("group", c.args[0]);
    IUnknown* group = Group(c.args[0]);
    IOPCGroupStateMgt* state = nullptr;
    r.hr = group ? group->QueryInterface(IID_IOPCGroupStateMgt, reinterpret_cast<void**>(&state)) : E_INVALIDARG;
    if (!group) r.hrText = "no group of that name was added in this session";
    if (FAILED(r.hr)) return r;
    DWORD rate = 0, locale = 0;
    BOOL active = FALSE;
    LPWSTR name = nullptr;
    LONG bias = 0;
    FLOAT deadband = 0;
    OPCHANDLE client = 0, server = 0;
    r.hr = state->GetState(&rate, &active, &name, &bias, &deadband, &locale, &client, &server);
    state->Release();
    if (FAILED(r.hr) || !TakeString(name, "name", "the group's name", r)) return r;
    r.numbers.emplace_back("updateRate", rate);
    r.numbers.emplace_back("active", active);
    r.numbers.emplace_back("timeBias", bias);
    r.fields.emplace_back("deadband", std::to_string(deadband));
    r.numbers.emplace_back("localeId", locale);
    r.numbers.emplace_back("clientHandle", client);
    r.numbers.emplace_back("serverHandle", server);
    return r;
}

TResult TSession::ErrorText(const TCommand& c) {
    TResult r;
    r.command = "error";
    const HRESULT code = static_cast<HRESULT>(std::strtoul(c.args[0].c_str(), nullptr, 0));
    LPWSTR text = nullptr;
    if (c.options.count("--common")) {
        // IOPCCommon's text, in the locale of this connection.
        IOPCCommon* common = nullptr;
        r.hr = server_->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(&common));
        if (SUCCEEDED(r.hr)) {
            r.hr = common->GetErrorString(code, &text);
            common->Release();
        }
    } else {
        r.hr = server_->GetErrorString(code, 0x409, &text);
    }
    r.fields.emplace_back("code", HexCode(code));
    if (SUCCEEDED(r.hr)) TakeString(text, "text", "the server's text", r);
    return r;
}

}  // namespace tw::opcda_cli
