#include "opc/groups/ItemAttributesOPC.h"

#include <oleauto.h>

#include <cstring>

#include "opc/ComText.h"

namespace tw::opc {

bool FillOPCItemAttributes(const TOPCItemAttributes& record, OPCITEMATTRIBUTES& out) {
    std::memset(&out, 0, sizeof out);
    out.szAccessPath = TaskStrDup(record.AccessPath);
    out.szItemID = TaskStrDup(record.ItemID);
    if (!out.szAccessPath || !out.szItemID) {
        ClearOPCItemAttributes(out);
        return false;
    }
    out.bActive = record.Active;
    out.hClient = record.ClientHandle;
    out.hServer = record.ServerHandle;
    out.dwAccessRights = record.AccessRights;
    out.dwBlobSize = record.BlobSize;
    out.pBlob = nullptr;
    out.vtRequestedDataType = record.RequestedType;
    out.vtCanonicalDataType = record.CanonicalType;
    out.dwEUType = static_cast<OPCEUTYPE>(record.EUType);
    VariantInit(&out.vEUInfo);
    if (record.EUType != OPC_ANALOG) {
        out.vEUInfo.vt = VT_I4;
        out.vEUInfo.lVal = record.EUInfo;
        return true;
    }
    // An analog item's EU info is its range: low, then high.
    SAFEARRAY* range = SafeArrayCreateVector(VT_R8, 0, 2);
    if (!range) {
        ClearOPCItemAttributes(out);
        return false;
    }
    static_cast<double*>(range->pvData)[0] = record.LowEU;
    static_cast<double*>(range->pvData)[1] = record.HighEU;
    out.vEUInfo.vt = VT_ARRAY | VT_R8;
    out.vEUInfo.parray = range;
    return true;
}

void ClearOPCItemAttributes(OPCITEMATTRIBUTES& out) {
    CoTaskMemFree(out.szAccessPath);
    CoTaskMemFree(out.szItemID);
    VariantClear(&out.vEUInfo);
    std::memset(&out, 0, sizeof out);
}

}  // namespace tw::opc
