// IOPCBrowseServerAddressSpace, implemented by the server object itself: a flat browse of the tag
// table. The server object's COM base supplies IUnknown.
#pragma once

#include <string>
#include <vector>

#include "OPCDA.h"

namespace tw::opc {

// Access-rights filter values above this are refused.
constexpr DWORD kMaxAccessRightsFilter = 3;

// Tag names in table order that pass the access-rights and type filters.
std::vector<std::string> BrowseTagNames(VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter);

class TOPCBrowse : public IOPCBrowseServerAddressSpace {
public:
    HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override;
    HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                               VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                               LPENUMSTRING* ppIEnumString) override;
    HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
    HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) override;

protected:
    TOPCBrowse() = default;
    virtual ~TOPCBrowse() = default;
};

}  // namespace tw::opc
