#include "opc/groups/EnumItemAtt.h"

#include <algorithm>

#include "opc/groups/TaskArray.h"

namespace tw::opc {

HRESULT TOPCItemAttEnumerator::Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) {
    if (ppItemArray) *ppItemArray = nullptr;
    if (pceltFetched) *pceltFetched = 0;
    if (celt == 0) return S_FALSE;
    if (!ppItemArray || !pceltFetched) return E_INVALIDARG;
    // Room for what is left, not for celt records: a client reads only the records fetched, and a
    // celt of 0xFFFFFFFF must not become an array of that many.
    const size_t left = records_.size() - std::min(cursor_.Position(), records_.size());
    auto* array =
        static_cast<OPCITEMATTRIBUTES*>(TaskArrayAlloc(std::min<size_t>(celt, left), sizeof(OPCITEMATTRIBUTES)));
    if (!array) return E_OUTOFMEMORY;
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
