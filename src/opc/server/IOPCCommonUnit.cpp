#include "opc/server/IOPCCommonUnit.h"

#include "opc/ComText.h"
#include "opc/server/OPCErrorStrings.h"

namespace tw::opc {

const char kNoClientName[] = "Client has not set the name";

HRESULT TIOPCCommon::SetLocaleID(LCID dwLcid) {
    if (dwLcid != kLocaleSystemDefault && dwLcid != kLocaleUserDefault) return E_INVALIDARG;
    localeId_ = dwLcid;
    return S_OK;
}

HRESULT TIOPCCommon::GetLocaleID(LCID* pdwLcid) {
    if (!pdwLcid) return E_INVALIDARG;
    *pdwLcid = localeId_;
    return S_OK;
}

HRESULT TIOPCCommon::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
    if (pdwCount) *pdwCount = 0;
    if (pdwLcid) *pdwLcid = nullptr;
    if (!pdwCount || !pdwLcid) return E_INVALIDARG;
    *pdwLcid = static_cast<LCID*>(CoTaskMemAlloc(2 * sizeof(LCID)));
    if (!*pdwLcid) return E_OUTOFMEMORY;
    (*pdwLcid)[0] = kLocaleSystemDefault;
    (*pdwLcid)[1] = kLocaleUserDefault;
    *pdwCount = 2;
    return S_OK;
}

HRESULT TIOPCCommon::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
    if (!ppString) return E_INVALIDARG;
    *ppString = TaskStrDup(GetErrorText(dwError));
    return *ppString ? S_OK : E_OUTOFMEMORY;
}

HRESULT TIOPCCommon::SetClientName(LPCWSTR szName) {
    if (!szName) return E_INVALIDARG;
    clientName_ = Narrow(szName);
    return S_OK;
}

}  // namespace tw::opc
