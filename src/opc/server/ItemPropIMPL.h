// IOPCItemProperties of a server object: the six OPC properties of every tag, the EU properties of an
// analog (scaled) tag, and the tag's own id.
#pragma once

#include <cstdint>

#include "OPCDA.h"
#include "opc/server/OwnedInterface.h"

namespace tw::opc {

// Properties offered for every tag, before the EU properties and the tag's own id.
constexpr DWORD kStandardPropertyCount = 6;
// Property values by tag id exist only for this range.
constexpr DWORD kFirstValuePropertyId = 6000;
constexpr DWORD kLastValuePropertyId = 6999;

class TOPCItemProp final : public TOwnedInterface<IOPCItemProperties> {
public:
    explicit TOPCItemProp(IUnknown* owner) : TOwnedInterface(owner) {}

    HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                                       LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) override;
    HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                                VARIANT** ppvData, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                            LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override;
};

// The current value of tag valueTagId in its canonical type (an analog tag's engineering value); false
// when the tag has no data point.
bool TagValueVariant(uint32_t valueTagId, VARIANT& value);

}  // namespace tw::opc
