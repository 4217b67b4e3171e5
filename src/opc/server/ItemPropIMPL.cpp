#include "opc/server/ItemPropIMPL.h"

#include <oleauto.h>

#include <iterator>
#include <string>
#include <vector>

#include "opc/ComText.h"
#include "opc/OpcError.h"
#include "opc/ValueConvert.h"
#include "opc/groups/TaskArray.h"
#include "values/DataPoints.h"
#include "tags/TagTable.h"

namespace tw::opc {
namespace {

struct TProperty {
    DWORD id;
    std::string description;
    VARTYPE type;
};

const TProperty kStandardProperties[kStandardPropertyCount] = {
    {1, "Item Canonical Data Type", VT_I2}, {2, "Item Value", VT_VARIANT},        {3, "Item Quality", VT_I2},
    {4, "Item Timestamp", VT_DATE},         {5, "Item Access Rights", VT_I4},     {6, "Server Scan Rate", VT_R4}};
constexpr DWORD kEuType = 7, kEuUnits = 100, kHighEu = 102, kLowEu = 103;

// An analog tag's range and, when it has them, its units.
const TTagEntry* AnalogTag(uint32_t tagId) {
    const TTagEntry* tag = TagEntry(tagId);
    return tag && tag->Scaling.Enabled ? tag : nullptr;
}

// Exactly the properties the tag has, in the order QueryAvailableProperties lists them.
std::vector<TProperty> PropertiesOf(uint32_t tagId) {
    std::vector<TProperty> list(std::begin(kStandardProperties), std::end(kStandardProperties));
    if (const TTagEntry* analog = AnalogTag(tagId)) {
        list.push_back({kEuType, "Item EU Type", VT_I4});
        if (!analog->Units.empty()) list.push_back({kEuUnits, "EU Units", VT_BSTR});
        list.push_back({kHighEu, "High EU", VT_R8});
        list.push_back({kLowEu, "Low EU", VT_R8});
    }
    list.push_back({tagId, TagNameById(tagId), static_cast<VARTYPE>(TagCanonicalType(tagId))});
    return list;
}

constexpr LONG kReadable = 1, kWriteable = 2;
constexpr float kServerScanRate = 6.0f;

// The common opening of all three calls: the tag id of szItemID, or the error to return.
HRESULT ResolveItem(LPCWSTR szItemID, uint32_t& tagId) {
    if (!szItemID || !*szItemID) return OPC_E_INVALIDITEMID;
    tagId = TagIdByName(Narrow(szItemID));
    return tagId == 0 ? OPC_E_INVALIDITEMID : S_OK;
}

// Every [out] pointer the client gave stays NULL unless the call succeeds, whatever it fails on.
template <class... Outs>
void NoOutputs(Outs*... outs) {
    ((outs ? static_cast<void>(*outs = nullptr) : static_cast<void>(0)), ...);
}

template <class T>
T* TaskArray(DWORD count) {
    return static_cast<T*>(TaskArrayAlloc(count, sizeof(T)));
}

// The quality of the tag's data point: how the device side last obtained its value. Points already
// released at close have none: BAD.
short TagQuality(uint32_t tagId) {
    const uint32_t index = tagId - FirstTagId;
    if (index >= static_cast<uint32_t>(TagCount()) || index >= DataPoints.size()) return kQualityBad;
    return static_cast<short>(DataPoints[index].Quality());
}

// The EU properties of an analog tag; false for any other tag, and for units it does not have.
bool EuProperty(uint32_t tagId, DWORD id, VARIANT& v) {
    const TTagEntry* analog = AnalogTag(tagId);
    if (!analog) return false;
    switch (id) {
        case kEuType:
            V_VT(&v) = VT_I4;
            V_I4(&v) = OPC_ANALOG;
            return true;
        case kEuUnits:
            if (analog->Units.empty()) return false;
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = SysAllocString(Widen(analog->Units).c_str());
            return V_BSTR(&v) != nullptr;
        case kHighEu:
        case kLowEu:
            V_VT(&v) = VT_R8;
            V_R8(&v) = id == kHighEu ? analog->Scaling.HighEu() : analog->Scaling.LowEu();
            return true;
        default: return false;
    }
}

// Fills v with property id of tag tagId; false when the property is not available.
bool PropertyValue(uint32_t tagId, DWORD id, VARIANT& v) {
    const uint32_t canonical = TagCanonicalType(tagId);
    switch (id) {
        case 1:
            V_VT(&v) = VT_I2;
            V_I2(&v) = static_cast<SHORT>(canonical);
            return true;
        case 2: return TagValueVariant(tagId, v);
        case 3:
            V_VT(&v) = VT_I2;
            V_I2(&v) = TagQuality(tagId);
            return true;
        case 4:
            V_VT(&v) = VT_DATE;
            V_DATE(&v) = NowLocalDateTime();
            return true;
        case 5:
            V_VT(&v) = VT_I4;
            V_I4(&v) = TagIsWritable(tagId) ? kReadable | kWriteable : kReadable;
            return true;
        case 6:
            V_VT(&v) = VT_R4;
            V_R4(&v) = kServerScanRate;
            return true;
        case kEuType:
        case kEuUnits:
        case kHighEu:
        case kLowEu: return EuProperty(tagId, id, v);
        default:
            // Another tag's value, by its id.
            if (id >= kFirstValuePropertyId && id <= kLastValuePropertyId) return TagValueVariant(id, v);
            return false;
    }
}

}  // namespace

bool TagValueVariant(uint32_t valueTagId, VARIANT& value) {
    const uint32_t index = valueTagId - FirstTagId;
    // An id that names no tag (ids below the first wrap far out of range), or data points already
    // released at close, give nothing.
    if (index >= static_cast<uint32_t>(TagCount()) || index >= DataPoints.size()) return false;
    const TTagEntry& tag = TagTable[index];
    const uint64_t raw = DataPoints[index].Value();
    value = tag.Scaling.Enabled ? CanonicalVariant(ScaledBits(tag.Scaling, raw, tag.DataType), ScaledType(tag.DataType))
                                : CanonicalVariant(raw, tag.DataType);
    return true;
}

HRESULT TOPCItemProp::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                               LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) {
    NoOutputs(ppPropertyIDs, ppDescriptions, ppvtDataTypes);
    if (pdwCount) *pdwCount = 0;
    uint32_t tagId = 0;
    const HRESULT check = ResolveItem(szItemID, tagId);
    if (FAILED(check)) return check;
    if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) return E_INVALIDARG;
    const std::vector<TProperty> properties = PropertiesOf(tagId);
    const auto count = static_cast<DWORD>(properties.size());
    auto* ids = TaskArray<DWORD>(count);
    auto* descriptions = TaskArray<LPWSTR>(count);
    auto* types = TaskArray<VARTYPE>(count);
    bool ok = ids && descriptions && types;
    for (DWORD i = 0; ok && i < count; ++i) {
        ids[i] = properties[i].id;
        types[i] = properties[i].type;
        descriptions[i] = TaskStrDup(properties[i].description);
        ok = descriptions[i] != nullptr;
    }
    if (!ok) {
        if (descriptions)
            for (DWORD i = 0; i < count; ++i) CoTaskMemFree(descriptions[i]);
        CoTaskMemFree(ids);
        CoTaskMemFree(descriptions);
        CoTaskMemFree(types);
        *ppPropertyIDs = nullptr;
        *ppDescriptions = nullptr;
        *ppvtDataTypes = nullptr;
        return E_OUTOFMEMORY;
    }
    *pdwCount = count;
    *ppPropertyIDs = ids;
    *ppDescriptions = descriptions;
    *ppvtDataTypes = types;
    return S_OK;
}

HRESULT TOPCItemProp::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                        HRESULT** ppErrors) {
    NoOutputs(ppvData, ppErrors);
    if (!szItemID || !*szItemID) return OPC_E_INVALIDITEMID;
    if (dwCount == 0 || !pdwPropertyIDs || !ppvData || !ppErrors) return E_INVALIDARG;
    uint32_t tagId = 0;
    const HRESULT check = ResolveItem(szItemID, tagId);
    if (FAILED(check)) return check;
    auto* values = TaskArray<VARIANT>(dwCount);  // zero-filled: VT_EMPTY
    auto* errors = TaskArray<HRESULT>(dwCount);
    if (!values || !errors) {
        CoTaskMemFree(values);
        CoTaskMemFree(errors);
        *ppvData = nullptr;
        *ppErrors = nullptr;
        return E_OUTOFMEMORY;
    }
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        errors[i] = PropertyValue(tagId, pdwPropertyIDs[i], values[i]) ? S_OK : OPC_E_INVALID_PID;
        if (FAILED(errors[i])) result = S_FALSE;
    }
    *ppvData = values;
    *ppErrors = errors;
    return result;
}

HRESULT TOPCItemProp::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                                    HRESULT** ppErrors) {
    NoOutputs(ppszNewItemIDs, ppErrors);
    if (!szItemID || !*szItemID) return OPC_E_INVALIDITEMID;
    if (dwCount == 0 || !pdwPropertyIDs || !ppszNewItemIDs || !ppErrors) return E_INVALIDARG;
    uint32_t tagId = 0;
    const HRESULT check = ResolveItem(szItemID, tagId);
    if (FAILED(check)) return check;
    auto* itemIds = TaskArray<LPWSTR>(dwCount);
    auto* errors = TaskArray<HRESULT>(dwCount);
    bool ok = itemIds && errors;
    HRESULT result = S_OK;
    const std::wstring own(szItemID);
    for (DWORD i = 0; ok && i < dwCount; ++i) {
        const bool isOwn = pdwPropertyIDs[i] == tagId;
        itemIds[i] = TaskStrDup(isOwn ? own : std::wstring());
        errors[i] = isOwn ? S_OK : OPC_E_INVALID_PID;
        if (!isOwn) result = S_FALSE;
        ok = itemIds[i] != nullptr;
    }
    if (!ok) {
        if (itemIds)
            for (DWORD i = 0; i < dwCount; ++i) CoTaskMemFree(itemIds[i]);
        CoTaskMemFree(itemIds);
        CoTaskMemFree(errors);
        *ppszNewItemIDs = nullptr;
        *ppErrors = nullptr;
        return E_OUTOFMEMORY;
    }
    *ppszNewItemIDs = itemIds;
    *ppErrors = errors;
    return result;
}

}  // namespace tw::opc
