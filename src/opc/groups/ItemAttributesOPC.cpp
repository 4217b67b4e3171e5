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
    out.vEUInfo.vt = VT_I4;
    out.vEUInfo.lVal = record.EUInfo;
    return true;
}

void ClearOPCItemAttributes(OPCITEMATTRIBUTES& out) {
    CoTaskMemFree(out.szAccessPath);
    CoTaskMemFree(out.szItemID);
    VariantClear(&out.vEUInfo);
    std::memset(&out, 0, sizeof out);
}

}  // namespace tw::opc
