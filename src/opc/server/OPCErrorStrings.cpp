#include "opc/server/OPCErrorStrings.h"

#include "opc/ComText.h"
#include "opc/OpcError.h"

namespace tw::opc {
namespace {

struct TErrorText {
    HRESULT code;
    const char* text;
};

const TErrorText kOpcTexts[] = {
    {OPC_S_UNSUPPORTEDRATE,
     "The server does not support the requested data rate but will use the closest available rate."},
    {OPC_S_CLAMP, "A value passed to WRITE was accepted but the output was clamped."},
    {OPC_S_INUSE, "The operation cannot be completed because the object still has references that exist."},
    {OPC_S_ALREADYACKED, "The condition has already been acknowleged."},
    {OPC_S_INVALIDBUFFERTIME, "The buffer time parameter was invalid."},
    {OPC_S_INVALIDMAXSIZE, "The max size parameter was invalid."},
    {OPC_E_INVALIDHANDLE, "The value of the handle is invalid."},
    {OPC_E_BADTYPE, "The server cannot convert the data between the requested data type and the canonical data type."},
    {OPC_E_PUBLIC, "The requested operation cannot be done on a public group."},
    {OPC_E_BADRIGHTS, "The Items AccessRights do not allow the operation."},
    {OPC_E_UNKNOWNITEMID, "The item is no longer available in the server address space."},
    {OPC_E_INVALIDITEMID, "The item definition does not conform to the server's syntax."},
    {OPC_E_INVALIDFILTER, "The filter string was not valid."},
    {OPC_E_UNKNOWNPATH, "The item's access path is not known to the server."},
    {OPC_E_RANGE, "The value was out of range."},
    {OPC_E_DUPLICATENAME, "Duplicate name not allowed."},
    {OPC_E_INVALIDCONFIGFILE, "The server's configuration file is an invalid format."},
    {OPC_E_NOTFOUND, "The server could not locate the requested object."},
    {OPC_E_INVALID_PID, "The server does not recognise the passed property ID."},
    {OPC_E_INVALIDTIME, "The time does not match the latest active time."},
    {OPC_E_BUSY, "A refresh is currently in progress."},
    {OPC_E_NOINFO, "Information is not available."},
};

std::string SystemText(HRESULT code) {
    // Inserts are ignored: a message with %1 and no argument array would read arguments that
    // were never passed.
    wchar_t buf[256];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, buf, 256, nullptr);
    while (n > 0 && (buf[n - 1] < 33 || buf[n - 1] == L'.')) --n;
    buf[n] = L'\0';
    return Narrow(buf);
}

}  // namespace

std::string GetErrorText(HRESULT code) {
    for (const auto& e : kOpcTexts)
        if (e.code == code) return e.text;
    return SystemText(code);
}

}  // namespace tw::opc
