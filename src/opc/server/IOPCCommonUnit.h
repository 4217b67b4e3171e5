// IOPCCommon of a server object: the client's locale and name, only stored.
#pragma once

#include <string>

#include "OPCCOMN.h"
#include "opc/server/OwnedInterface.h"

namespace tw::opc {

constexpr LCID kLocaleSystemDefault = 0x0800;  // 2048
constexpr LCID kLocaleUserDefault = 0x0400;    // 1024
extern const char kNoClientName[];

class TIOPCCommon final : public TOwnedInterface<IOPCCommon> {
public:
    explicit TIOPCCommon(IUnknown* owner) : TOwnedInterface(owner) {}

    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) override;
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override;

    LCID LocaleId() const { return localeId_; }
    const std::string& ClientName() const { return clientName_; }

private:
    LCID localeId_ = kLocaleSystemDefault;
    std::string clientName_ = kNoClientName;
};

}  // namespace tw::opc
