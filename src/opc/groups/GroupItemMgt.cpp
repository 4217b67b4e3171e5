// IOPCItemMgt of the group.
#include <new>
#include <vector>

#include "opc/ComText.h"
#include "opc/OpcError.h"
#include "opc/ValueConvert.h"
#include "opc/groups/EnumItemAtt.h"
#include "opc/groups/GroupUnit.h"
#include "opc/groups/TaskArray.h"
#include "tags/TagTable.h"

namespace tw::opc {
namespace {

// S_OK for a name that names a tag and an acceptable type; else the entry's error. unknownName is
// what a name without a tag gives (AddItems and ValidateItems differ).
HRESULT CheckDefinition(const OPCITEMDEF& def, HRESULT unknownName, bool typeFirst, uint32_t& tagId) {
    const std::string name = Narrow(def.szItemID);
    if (name.empty()) return OPC_E_INVALIDITEMID;
    const bool typeOk = IsValidVarType(def.vtRequestedDataType);
    if (typeFirst && !typeOk) return OPC_E_BADTYPE;
    tagId = TagIdByName(name);
    if (tagId == 0) return unknownName;
    if (!typeOk) return OPC_E_BADTYPE;
    return S_OK;
}

void FillResult(uint32_t tagId, OPCHANDLE serverHandle, OPCITEMRESULT& result) {
    result.hServer = serverHandle;
    result.vtCanonicalDataType = static_cast<VARTYPE>(TagCanonicalType(tagId));
    result.dwAccessRights = AccessRightsOf(TagIsWritable(tagId));
    result.dwBlobSize = 0;
    result.pBlob = nullptr;
}

}  // namespace

HRESULT TOPCGroup::ForEachHandle(DWORD dwCount, const OPCHANDLE* phServer, HRESULT** ppErrors,
                                 const std::function<HRESULT(TOPCItem& item, DWORD i)>& entry) {
    if (ppErrors) *ppErrors = nullptr;
    if (dwCount == 0 || !phServer || !ppErrors) return E_INVALIDARG;
    ItemsTouched();
    TTaskArray<HRESULT> errors(dwCount);
    if (!errors) return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        TOPCItem* item = items_.Find(phServer[i]);
        errors[i] = item ? entry(*item, i) : OPC_E_INVALIDHANDLE;
        if (errors[i] != S_OK) hr = S_FALSE;
    }
    *ppErrors = errors.Release();
    return hr;
}

HRESULT TOPCGroup::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                            HRESULT** ppErrors) {
    return DefineItems(dwCount, pItemArray, true, ppAddResults, ppErrors);
}

HRESULT TOPCGroup::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                 OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) {
    (void)bBlobUpdate;
    return DefineItems(dwCount, pItemArray, false, ppValidationResults, ppErrors);
}

HRESULT TOPCGroup::DefineItems(DWORD dwCount, const OPCITEMDEF* pItemArray, bool create, OPCITEMRESULT** ppResults,
                               HRESULT** ppErrors) {
    if (ppResults) *ppResults = nullptr;
    if (ppErrors) *ppErrors = nullptr;
    if (dwCount == 0 || !pItemArray || !ppResults || !ppErrors) return E_INVALIDARG;
    TTaskArray<OPCITEMRESULT> results(dwCount);
    TTaskArray<HRESULT> errors(dwCount);
    if (!results || !errors) return E_OUTOFMEMORY;
    if (create) ItemsTouched();
    try {
        if (create) items_.Reserve(items_.Count() + dwCount);
    } catch (const std::bad_alloc&) {
        // Each entry then finds out for itself.
    }
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        const OPCITEMDEF& def = pItemArray[i];
        uint32_t tagId = 0;
        // A name without a tag is an unknown item for AddItems, an invalid one for ValidateItems,
        // which also tests the type first.
        errors[i] = create ? CheckDefinition(def, OPC_E_UNKNOWNITEMID, false, tagId)
                           : CheckDefinition(def, OPC_E_INVALIDITEMID, true, tagId);
        if (errors[i] == S_OK && !create) FillResult(tagId, 0, results[i]);
        if (errors[i] == S_OK && create) {
            TOPCItem item;
            item.ServerHandle = NextItemHandle();
            item.SetActive(def.bActive);
            item.ClientHandle = def.hClient;
            item.DataPointIndex = static_cast<int32_t>(tagId - FirstTagId);
            item.Writable = TagIsWritable(tagId);
            item.CanonicalType = static_cast<VARTYPE>(TagCanonicalType(tagId));
            item.DataType = TagDataType(tagId);
            if (const TTagEntry* tag = TagEntry(tagId)) item.Scaling = tag->Scaling;
            item.SetRequestedType(def.vtRequestedDataType);
            // The item starts with what its data point holds, so a read queued before the first pass
            // never reports a value the tag never had; having never been seen, it still reports then.
            item.TakePoint();
            try {
                item.ItemID = Narrow(def.szItemID);
                items_.Append(item);
                FillResult(tagId, item.ServerHandle, results[i]);
            } catch (const std::bad_alloc&) {
                errors[i] = E_OUTOFMEMORY;
            }
        }
        if (errors[i] != S_OK) hr = S_FALSE;
    }
    *ppResults = results.Release();
    *ppErrors = errors.Release();
    return hr;
}

HRESULT TOPCGroup::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
    const HRESULT hr = ForEachHandle(dwCount, phServer, ppErrors, [&](TOPCItem& item, DWORD) {
        items_.MarkForRemoval(item);
        return S_OK;
    });
    items_.RemoveMarked();
    return hr;
}

HRESULT TOPCGroup::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) {
    return ForEachHandle(dwCount, phServer, ppErrors, [&](TOPCItem& item, DWORD) {
        item.SetActive(bActive);
        return S_OK;
    });
}

HRESULT TOPCGroup::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient, HRESULT** ppErrors) {
    if (ppErrors) *ppErrors = nullptr;
    if (!phClient) return E_INVALIDARG;
    return ForEachHandle(dwCount, phServer, ppErrors, [&](TOPCItem& item, DWORD i) {
        item.ClientHandle = phClient[i];
        return S_OK;
    });
}

HRESULT TOPCGroup::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                HRESULT** ppErrors) {
    if (ppErrors) *ppErrors = nullptr;
    if (!pRequestedDatatypes) return E_INVALIDARG;
    return ForEachHandle(dwCount, phServer, ppErrors, [&](TOPCItem& item, DWORD i) {
        if (!IsValidVarType(pRequestedDatatypes[i])) return OPC_E_BADTYPE;
        item.SetRequestedType(pRequestedDatatypes[i]);
        return S_OK;
    });
}

HRESULT TOPCGroup::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) {
    if (ppUnk) *ppUnk = nullptr;
    // Not the enumerators' class identifier either, which names no interface: across processes an
    // enumerator handed out under it cannot be marshalled, and the stub's lost reference kept it.
    if (!IsEqualIID(riid, IID_IEnumOPCItemAttributes)) return E_INVALIDARG;
    if (!ppUnk) return E_INVALIDARG;
    if (items_.Empty()) return S_FALSE;
    IEnumOPCItemAttributes* e = nullptr;
    try {
        std::vector<TOPCItemAttributes> records(items_.Count());
        for (size_t i = 0; i < records.size(); ++i) items_[i].FillAttributes(records[i]);
        const HRESULT hr = TOPCItemAttEnumerator::Create(records, &e);
        if (FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *ppUnk = e;
    return S_OK;
}

}  // namespace tw::opc
