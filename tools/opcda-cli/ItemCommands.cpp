#include "ItemCommands.h"

#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "Apartment.h"
#include "opc/ComText.h"
#include "opc/DataChangeSink.h"

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

// An asynchronous request's completion is awaited this long.
constexpr double kCompletionSeconds = 30.0;

// What one item's read or write came to.
struct TOutcome {
    HRESULT error = S_OK;
    VARIANT value{};  // VT_EMPTY (zero) unless read
    WORD quality = 0;
    FILETIME time{};
};

// The completion of one asynchronous read or write: each item's outcome, by client handle.
class TCompletion final : public opc::TDataChangeSink {
public:
    explicit TCompletion(DWORD transactionId) : transactionId_(transactionId) {}
    ~TCompletion() {
        for (auto& [client, outcome] : items) VariantClear(&outcome.value);
    }

    // Lives on the command's stack; the count only keeps COM's bookkeeping honest.
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*,
                                           FILETIME*, HRESULT*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                                             OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                                             FILETIME* pftTimeStamps, HRESULT* pErrors) override {
        if (dwTransid != transactionId_) return S_OK;
        for (DWORD i = 0; i < dwCount; ++i) {
            TOutcome& o = items[phClientItems[i]];
            o.error = pErrors[i];
            VariantCopy(&o.value, &pvValues[i]);
            o.quality = pwQualities[i];
            o.time = pftTimeStamps[i];
        }
        done = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE, HRESULT, DWORD dwCount,
                                              OPCHANDLE* phClientItems, HRESULT* pErrors) override {
        if (dwTransid != transactionId_) return S_OK;
        for (DWORD i = 0; i < dwCount; ++i) items[phClientItems[i]].error = pErrors[i];
        done = true;
        return S_OK;
    }

    bool done = false;
    std::map<OPCHANDLE, TOutcome> items;

private:
    DWORD transactionId_;
    ULONG refs_ = 0;
};

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

std::string TItemCommands::ReadLine(const std::string& name, HRESULT error, const VARIANT& value, WORD quality,
                                    const FILETIME& time, const std::string& units) {
    std::string line = name + ": ";
    if (error == S_OK || quality != 0 || value.vt != VT_EMPTY)
        line += "value=" + ValueText(value) + (units.empty() ? "" : " units=" + units) + " quality=" +
                QualityText(quality) + " time=" + UtcText(time);
    if (error != S_OK) line += " error=" + HexCode(error) + " " + ErrorText(error);
    return line;
}

std::string TItemCommands::WriteLine(const std::string& name, HRESULT error) {
    return name + ": " + (error == S_OK ? "ok" : "error=" + HexCode(error) + " " + ErrorText(error));
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
    const std::vector<TItem>& items = items_[c.args[0]];
    std::vector<OPCHANDLE> handles;
    for (const TItem& item : items) handles.push_back(item.serverHandle);
    if (c.options.count("--async")) {
        std::vector<std::string> names;
        std::vector<OPCHANDLE> clients;
        for (const TItem& item : items) {
            names.push_back(item.name);
            clients.push_back(static_cast<OPCHANDLE>(clients.size() + 1));
        }
        return RunAsync(c, names, clients, handles,
                        [&](IOPCAsyncIO2* io, DWORD transid, DWORD* cancel, HRESULT** errors) {
                            return io->Read(static_cast<DWORD>(handles.size()), handles.data(), transid, cancel,
                                            errors);
                        });
    }
    IOPCSyncIO* io = GroupInterface<IOPCSyncIO>(c, IID_IOPCSyncIO, r);
    if (!io) return r;
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
        r.list.push_back(ReadLine(items[i].name, errors[i], states[i].vDataValue, states[i].wQuality,
                                  states[i].ftTimeStamp, items[i].units));
        VariantClear(&states[i].vDataValue);
    }
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    return r;
}

// The request goes out with a transaction id of this session; the completion, awaited here, reports
// every item the request accepted, by client handle; the request itself those it refused at once.
TResult TItemCommands::RunAsync(const TCommand& c, const std::vector<std::string>& names,
                                const std::vector<OPCHANDLE>& clients, const std::vector<OPCHANDLE>& handles,
                                const TAsyncRequest& request) {
    TResult r;
    IOPCAsyncIO2* io = GroupInterface<IOPCAsyncIO2>(c, IID_IOPCAsyncIO2, r);
    if (!io) return r;
    const DWORD transid = ++lastTransactionId_;
    TCompletion completion(transid);
    TSinkLink link(session_.Group(c.args[0]), IID_IOPCDataCallback, &completion);
    DWORD cancel = 0;
    HRESULT* errors = nullptr;
    r.hr = link.Result();
    if (SUCCEEDED(r.hr)) r.hr = handles.empty() ? E_INVALIDARG : request(io, transid, &cancel, &errors);
    io->Release();
    if (FAILED(r.hr)) return r;
    r.numbers.emplace_back("transactionId", transid);
    bool accepted = false;
    for (size_t i = 0; i < names.size(); ++i) accepted = accepted || errors[i] == S_OK;
    if (accepted && !PumpUntil([&] { return completion.done; }, kCompletionSeconds)) {
        r.hr = E_ABORT;
        r.hrText = "no completion arrived";
    }
    const bool read = c.name == "read";
    for (size_t i = 0; i < names.size(); ++i) {
        // An item the request accepted but no completion reported has no outcome: aborted.
        const bool reported = completion.items.count(clients[i]) > 0;
        TOutcome& o = completion.items[clients[i]];
        if (errors[i] != S_OK || !reported) o.error = errors[i] != S_OK ? errors[i] : E_ABORT;
        r.list.push_back(read ? ReadLine(names[i], o.error, o.value, o.quality, o.time) : WriteLine(names[i], o.error));
    }
    CoTaskMemFree(errors);
    return r;
}

TResult TItemCommands::Write(const TCommand& c) {
    TResult r;
    std::vector<std::string> names;
    std::vector<OPCHANDLE> clients;
    std::vector<OPCHANDLE> handles;
    std::vector<VARIANT> values;
    const std::vector<TItem>& items = items_[c.args[0]];
    for (const std::string& pair : SplitList(c.args[1])) {
        const size_t eq = pair.find('=');
        const std::string name = pair.substr(0, eq);
        // A name not added in this session goes with handle 0: the server reports the handle.
        OPCHANDLE client = 0, handle = 0;
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].name == name) {
                client = static_cast<OPCHANDLE>(i + 1);
                handle = items[i].serverHandle;
            }
        names.push_back(name);
        clients.push_back(client);
        handles.push_back(handle);
        values.push_back(ParseValue(eq == std::string::npos ? "" : pair.substr(eq + 1)));
    }
    if (c.options.count("--async")) {
        r = RunAsync(c, names, clients, handles, [&](IOPCAsyncIO2* io, DWORD transid, DWORD* cancel, HRESULT** errors) {
            return io->Write(static_cast<DWORD>(handles.size()), handles.data(), values.data(), transid, cancel,
                             errors);
        });
    } else if (IOPCSyncIO* io = GroupInterface<IOPCSyncIO>(c, IID_IOPCSyncIO, r)) {
        HRESULT* errors = nullptr;
        r.hr = handles.empty() ? E_INVALIDARG
                               : io->Write(static_cast<DWORD>(handles.size()), handles.data(), values.data(), &errors);
        io->Release();
        if (SUCCEEDED(r.hr)) {
            for (size_t i = 0; i < names.size(); ++i) r.list.push_back(WriteLine(names[i], errors[i]));
            CoTaskMemFree(errors);
        }
    }
    for (VARIANT& v : values) VariantClear(&v);
    return r;
}

}  // namespace tw::opcda_cli
