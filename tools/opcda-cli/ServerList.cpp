#include "ServerList.h"

#include <comcat.h>
#include <objbase.h>

#include "opc/ComText.h"
#include "opc/Guids.h"

namespace tw::opcda_cli {

namespace {

// The ProgID the class announces and whether that name leads back to the class ("" when it does).
std::string Describe(REFCLSID clsid) {
    const std::string id = opc::GuidText(clsid);
    LPOLESTR progId = nullptr;
    if (FAILED(ProgIDFromCLSID(clsid, &progId)) || !progId) return id + " (no ProgID)";
    const std::string name = opc::Narrow(progId);
    CLSID back{};
    const bool resolves = SUCCEEDED(CLSIDFromProgID(progId, &back)) && IsEqualCLSID(back, clsid);
    CoTaskMemFree(progId);
    return name + " " + id + (resolves ? "" : " (the ProgID does not resolve)");
}

}  // namespace

TResult ListServers() {
    TResult r;
    r.command = "servers";
    ICatInformation* info = nullptr;
    r.hr = CoCreateInstance(opc::CLSID_ComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, opc::IID_CatInformation,
                            reinterpret_cast<void**>(&info));
    if (FAILED(r.hr)) return r;
    CATID ids[1] = {opc::CATID_OPCDAServer20};
    IEnumCLSID* classes = nullptr;
    r.hr = info->EnumClassesOfCategories(1, ids, static_cast<ULONG>(-1), nullptr, &classes);
    if (SUCCEEDED(r.hr)) {
        r.hr = S_OK;
        CLSID clsid;
        ULONG fetched = 0;
        while (classes->Next(1, &clsid, &fetched) == S_OK && fetched == 1) {
            r.list.push_back(Describe(clsid));
            if (r.list.back().back() == ')') r.hr = S_FALSE;
        }
        classes->Release();
    }
    info->Release();
    return r;
}

}  // namespace tw::opcda_cli
