#include "opc/server/BrowseIMPL.h"

#include <new>

#include "opc/ComText.h"
#include "opc/OpcError.h"
#include "opc/server/BrowseFilter.h"
#include "opc/server/EnumString.h"
#include "tags/TagTable.h"

namespace tw::opc {

std::vector<std::string> BrowseTagNames(VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter) {
    std::vector<std::string> names;
    for (int i = 0; i < TagCount(); ++i) {
        const TTagEntry& tag = TagTable[static_cast<size_t>(i)];
        const bool writable = TagIsWritable(tag.Id);
        const bool access = dwAccessRightsFilter == 0 || (writable && dwAccessRightsFilter >= 2) ||
                            (!writable && dwAccessRightsFilter == 1);
        const bool type = vtDataTypeFilter == VT_EMPTY || vtDataTypeFilter == static_cast<VARTYPE>(tag.CanonicalType);
        if (access && type) names.push_back(tag.Name);
    }
    return names;
}

HRESULT TOPCBrowse::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
    if (!pNameSpaceType) return E_INVALIDARG;
    *pNameSpaceType = OPC_NS_FLAT;
    return S_OK;
}

HRESULT TOPCBrowse::ChangeBrowsePosition(OPCBROWSEDIRECTION, LPCWSTR) { return E_FAIL; }

HRESULT TOPCBrowse::BrowseOPCItemIDs(OPCBROWSETYPE, LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                                     DWORD dwAccessRightsFilter, LPENUMSTRING* ppIEnumString) {
    if (ppIEnumString) *ppIEnumString = nullptr;
    if (dwAccessRightsFilter > kMaxAccessRightsFilter || !ppIEnumString) return E_INVALIDARG;
    HRESULT result = S_OK;
    try {
        std::vector<std::string> names = BrowseTagNames(vtDataTypeFilter, dwAccessRightsFilter);
        if (szFilterCriteria && *szFilterCriteria) {
            TBrowsePattern pattern;
            if (!pattern.Compile(szFilterCriteria)) return OPC_E_INVALIDFILTER;
            std::vector<std::string> kept;
            for (const std::string& name : names)
                if (pattern.Matches(Widen(name))) kept.push_back(name);
            names.swap(kept);
            if (names.empty()) result = S_FALSE;
        }
        const HRESULT created = TOPCStringsEnumerator::Create(names, ppIEnumString);
        return FAILED(created) ? created : result;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT TOPCBrowse::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
    if (!szItemID) return E_INVALIDARG;
    *szItemID = nullptr;
    // In the flat space the item id is the tag name itself.
    const std::wstring name = szItemDataID ? szItemDataID : L"";
    if (!name.empty() && TagIdByName(Narrow(name.c_str())) == 0) return E_INVALIDARG;
    *szItemID = TaskStrDup(name);
    return *szItemID ? S_OK : E_OUTOFMEMORY;
}

HRESULT TOPCBrowse::BrowseAccessPaths(LPCWSTR, LPENUMSTRING* ppIEnumString) {
    if (ppIEnumString) *ppIEnumString = nullptr;
    return E_NOTIMPL;
}

}  // namespace tw::opc
