#include "AddressSpaceCommands.h"

#include <cstdlib>

#include "opc/ComText.h"

namespace tw::opcda_cli {
namespace {

using opc::Narrow;
using opc::Widen;

std::string Option(const TCommand& c, const char* key, const char* dflt) {
    auto it = c.options.find(key);
    return it == c.options.end() ? std::string(dflt) : it->second;
}

std::string ValueText(const VARIANT& v) { return VariantText(v, 0x409); }

template <class Itf>
Itf* Query(IOPCServer* server, REFIID iid, TResult& r) {
    Itf* itf = nullptr;
    r.hr = server->QueryInterface(iid, reinterpret_cast<void**>(&itf));
    return SUCCEEDED(r.hr) ? itf : nullptr;
}

}  // namespace

bool IsAddressSpaceCommand(const std::string& word, size_t* positional) {
    const size_t count = word == "browse" ? 0 : word == "properties" ? 1 : SIZE_MAX;
    if (count == SIZE_MAX) return false;
    if (positional) *positional = count;
    return true;
}

bool AddressSpaceOptionTakesValue(const std::string& option) {
    return option == "--filter" || option == "--access" || option == "--type";
}

TResult TAddressSpaceCommands::Run(const TCommand& c) {
    TResult r = c.name == "browse" ? Browse(c) : Properties(c);
    if (r.hrText.empty()) r.hrText = session_.ServerText(r.hr);
    return r;
}

TResult TAddressSpaceCommands::Browse(const TCommand& c) {
    TResult r;
    r.command = "browse";
    auto* browse = Query<IOPCBrowseServerAddressSpace>(server_, IID_IOPCBrowseServerAddressSpace, r);
    if (!browse) return r;
    const std::string filter = Option(c, "--filter", "");
    const auto type = static_cast<VARTYPE>(std::strtoul(Option(c, "--type", "0").c_str(), nullptr, 0));
    const auto access = static_cast<DWORD>(std::strtoul(Option(c, "--access", "0").c_str(), nullptr, 0));
    IEnumString* names = nullptr;
    r.hr = browse->BrowseOPCItemIDs(OPC_FLAT, Widen(filter).c_str(), type, access, &names);
    if (names) {
        DrainStrings(names, r.list);
        names->Release();
    }
    // "NAME<TAB>ITEM ID": the fully qualified id a client adds the item by.
    if (c.options.count("--item-ids")) {
        for (std::string& line : r.list) {
            LPWSTR id = nullptr;
            const HRESULT hr = browse->GetItemID(const_cast<LPWSTR>(Widen(line).c_str()), &id);
            line += "\t" + (FAILED(hr) ? "error=" + HexCode(hr) : id ? Narrow(id) : "error=no id arrived");
            CoTaskMemFree(id);
        }
    }
    browse->Release();
    r.fields.emplace_back("filter", filter);
    r.numbers.emplace_back("count", static_cast<long long>(r.list.size()));
    return r;
}

TResult TAddressSpaceCommands::Properties(const TCommand& c) {
    TResult r;
    r.command = "properties";
    const std::wstring item = Widen(c.args[0]);
    r.fields.emplace_back("item", c.args[0]);
    auto* props = Query<IOPCItemProperties>(server_, IID_IOPCItemProperties, r);
    if (!props) return r;
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    r.hr = props->QueryAvailableProperties(const_cast<LPWSTR>(item.c_str()), &count, &ids, &descriptions, &types);
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    if (SUCCEEDED(r.hr) && count > 0)
        r.hr = props->GetItemProperties(const_cast<LPWSTR>(item.c_str()), count, ids, &values, &errors);
    const bool withItemIds = c.options.count("--item-ids") > 0;
    LPWSTR* itemIds = nullptr;
    HRESULT* idErrors = nullptr;
    if (SUCCEEDED(r.hr) && count > 0 && withItemIds) {
        // S_FALSE: some properties have no item id of their own, as is usual.
        const HRESULT hr = props->LookupItemIDs(const_cast<LPWSTR>(item.c_str()), count, ids, &itemIds, &idErrors);
        if (FAILED(hr)) r.hr = hr;
    }
    // One line per property: "id<TAB>description<TAB>type<TAB>value", the value empty when the
    // server has none for it; with --item-ids a fifth column, the item id of the property, empty when
    // it has none.
    for (DWORD i = 0; i < count; ++i) {
        std::string line = std::to_string(ids[i]) + "\t" + Narrow(descriptions ? descriptions[i] : nullptr) + "\t" +
                           std::to_string(types ? types[i] : 0) + "\t";
        if (values && errors && SUCCEEDED(errors[i])) line += ValueText(values[i]);
        if (withItemIds) line += "\t" + (itemIds && idErrors && SUCCEEDED(idErrors[i]) ? Narrow(itemIds[i]) : "");
        r.list.push_back(line);
        if (descriptions) CoTaskMemFree(descriptions[i]);
        if (values) VariantClear(&values[i]);
        if (itemIds) CoTaskMemFree(itemIds[i]);
    }
    CoTaskMemFree(ids);
    CoTaskMemFree(descriptions);
    CoTaskMemFree(types);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    CoTaskMemFree(itemIds);
    CoTaskMemFree(idErrors);
    props->Release();
    r.numbers.emplace_back("count", count);
    return r;
}

}  // namespace tw::opcda_cli
