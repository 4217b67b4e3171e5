#include "opc/groups/EnumItemAtt.h"

#include <cstring>

namespace tw::opc {

HRESULT TOPCItemAttEnumerator::Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) {
    if (pceltFetched) *pceltFetched = 0;
    if (celt == 0) return S_FALSE;
    if (!ppItemArray || !pceltFetched) return E_INVALIDARG;
    *ppItemArray = nullptr;
    const size_t bytes = static_cast<size_t>(celt) * sizeof(OPCITEMATTRIBUTES);
    auto* array = static_cast<OPCITEMATTRIBUTES*>(CoTaskMemAlloc(bytes));
    if (!array) return E_OUTOFMEMORY;
    std::memset(array, 0, bytes);
    ULONG fetched = 0;
    const HRESULT hr = cursor_.Next(celt, array, &fetched, records_.size(), S_FALSE,
                                    [&](size_t index, OPCITEMATTRIBUTES& slot) {
                                        return FillOPCItemAttributes(records_[index], slot);
                                    });
    if (hr == E_OUTOFMEMORY) {
        for (ULONG i = 0; i < fetched; ++i) ClearOPCItemAttributes(array[i]);
        CoTaskMemFree(array);
        return E_OUTOFMEMORY;
    }
    *ppItemArray = array;
    *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
}

}  // namespace tw::opc
