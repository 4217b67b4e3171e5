// IOPCSyncIO of the group: reads go to the device for every item; writes go to the device, and the
// data point takes a value only when the device took it.
#include "opc/OpcError.h"
#include "opc/ValueConvert.h"
#include "opc/groups/GroupUnit.h"
#include "opc/groups/TaskArray.h"
#include "tags/DeviceAccess.h"

namespace tw::opc {

HRESULT TOPCGroup::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                        HRESULT** ppErrors) {
    if (ppItemValues) *ppItemValues = nullptr;
    if (ppErrors) *ppErrors = nullptr;
    if (dwCount == 0 || (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE) || !ppItemValues)
        return E_INVALIDARG;
    TTaskArray<OPCITEMSTATE> states(dwCount);
    if (!states) return E_OUTOFMEMORY;
    const double timestamp = LastUpdateTime();
    const HRESULT hr = ForEachHandle(dwCount, phServer, ppErrors, [&](TOPCItem& item, DWORD i) {
        // The value this read obtained: the point may meanwhile hold an older one from a poll read.
        const TPointSample sample = SampleTagFromDevice(item.DataPointIndex);
        HRESULT error = S_OK;
        item.ReadState(dwSource, timestamp, sample, states[i], error);
        if (dwSource == OPC_DS_CACHE && !active_ && item.Active) states[i].wQuality = kQualityOutOfService;
        return error;
    });
    if (FAILED(hr)) return hr;
    *ppItemValues = states.Release();
    return hr;
}

HRESULT TOPCGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) {
    if (ppErrors) *ppErrors = nullptr;
    if (!pItemValues) return E_INVALIDARG;
    return ForEachHandle(dwCount, phServer, ppErrors, [&](TOPCItem& item, DWORD i) -> HRESULT {
        const VARIANT& value = pItemValues[i];
        if (value.vt == VT_EMPTY || !IsValidVarType(value.vt)) return OPC_E_BADTYPE;
        if (!item.Writable) return OPC_E_BADRIGHTS;
        return item.StoreValue(value);
    });
}

}  // namespace tw::opc
