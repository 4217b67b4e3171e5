#include "opc/server/EnumString.h"

#include "opc/ComText.h"

namespace tw::opc {

HRESULT TOPCStringsEnumerator::Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) {
    HRESULT hr = cursor_.Next(celt, rgelt, pceltFetched, texts_.size(), ENUM_RAN_OUT,
                              [this](size_t i, LPOLESTR& slot) { return (slot = TaskStrDup(texts_[i])) != nullptr; });
    if (hr == E_OUTOFMEMORY) {
        for (ULONG i = 0; i < *pceltFetched; ++i) CoTaskMemFree(rgelt[i]);
        *pceltFetched = 0;
    }
    return hr;
}

}  // namespace tw::opc
