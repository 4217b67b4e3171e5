// OPC DA 2.0 result codes. The error codes have both top bits set (0xC004....), which
// MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, n) would not give, so they are written out.
#pragma once

#include <windows.h>

namespace tw::opc {

constexpr HRESULT OPC_E_INVALIDHANDLE = static_cast<HRESULT>(0xC0040001L);
constexpr HRESULT OPC_E_BADTYPE = static_cast<HRESULT>(0xC0040004L);
constexpr HRESULT OPC_E_PUBLIC = static_cast<HRESULT>(0xC0040005L);
constexpr HRESULT OPC_E_BADRIGHTS = static_cast<HRESULT>(0xC0040006L);
constexpr HRESULT OPC_E_UNKNOWNITEMID = static_cast<HRESULT>(0xC0040007L);
constexpr HRESULT OPC_E_INVALIDITEMID = static_cast<HRESULT>(0xC0040008L);
constexpr HRESULT OPC_E_INVALIDFILTER = static_cast<HRESULT>(0xC0040009L);
constexpr HRESULT OPC_E_UNKNOWNPATH = static_cast<HRESULT>(0xC004000AL);
constexpr HRESULT OPC_E_RANGE = static_cast<HRESULT>(0xC004000BL);
constexpr HRESULT OPC_E_DUPLICATENAME = static_cast<HRESULT>(0xC004000CL);
constexpr HRESULT OPC_S_UNSUPPORTEDRATE = static_cast<HRESULT>(0x0004000DL);
constexpr HRESULT OPC_S_CLAMP = static_cast<HRESULT>(0x0004000EL);
constexpr HRESULT OPC_S_INUSE = static_cast<HRESULT>(0x0004000FL);
constexpr HRESULT OPC_E_INVALIDCONFIGFILE = static_cast<HRESULT>(0xC0040010L);
constexpr HRESULT OPC_E_NOTFOUND = static_cast<HRESULT>(0xC0040011L);
constexpr HRESULT OPC_S_ALREADYACKED = static_cast<HRESULT>(0x00040200L);
constexpr HRESULT OPC_S_INVALIDBUFFERTIME = static_cast<HRESULT>(0x00040201L);
constexpr HRESULT OPC_S_INVALIDMAXSIZE = static_cast<HRESULT>(0x00040202L);
constexpr HRESULT OPC_E_INVALID_PID = static_cast<HRESULT>(0xC0040203L);
constexpr HRESULT OPC_E_INVALIDTIME = static_cast<HRESULT>(0xC0040204L);
constexpr HRESULT OPC_E_BUSY = static_cast<HRESULT>(0xC0040205L);
constexpr HRESULT OPC_E_NOINFO = static_cast<HRESULT>(0xC0040206L);

// Success code the enumerators return when fewer elements than asked for were left; it is the
// system error number RPC_X_ENUM_VALUE_OUT_OF_RANGE, not S_FALSE.
constexpr HRESULT ENUM_RAN_OUT = static_cast<HRESULT>(0x000006F5L);

}  // namespace tw::opc
