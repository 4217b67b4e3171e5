// The attribute record an item enumerator hands out, one per item, and its conversion to the
// OPCITEMATTRIBUTES that a client receives.
#pragma once

#include <windows.h>

#include <string>

#include "OPCDA.h"

namespace tw::opc {

struct TOPCItemAttributes {
    BOOL Active = FALSE;
    DWORD EUType = OPC_NOENUM;
    BYTE* Blob = nullptr;
    LONG EUInfo = 0;  // handed out as a VT_I4 variant, unless the item is analog
    double LowEU = 0, HighEU = 0;  // an analog item's range, handed out as an array of two VT_R8
    std::string AccessPath;
    std::string ItemID;
    VARTYPE RequestedType = VT_EMPTY;
    VARTYPE CanonicalType = VT_EMPTY;
    OPCHANDLE ClientHandle = 0;
    OPCHANDLE ServerHandle = 0;
    DWORD AccessRights = 0;
    DWORD BlobSize = 0;
};

// OPC_READABLE | OPC_WRITEABLE for a writable item, else OPC_READABLE.
inline DWORD AccessRightsOf(BOOL writable) { return writable ? OPC_READABLE | OPC_WRITEABLE : OPC_READABLE; }

// Fills out (zeroed first) with new task-allocated strings; false when an allocation failed, in
// which case out holds nothing that needs freeing.
bool FillOPCItemAttributes(const TOPCItemAttributes& record, OPCITEMATTRIBUTES& out);
// Frees what FillOPCItemAttributes allocated.
void ClearOPCItemAttributes(OPCITEMATTRIBUTES& out);

}  // namespace tw::opc
