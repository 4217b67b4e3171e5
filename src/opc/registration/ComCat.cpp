#include "opc/registration/ComCat.h"

#include <comcat.h>
#include <objbase.h>

#include <cwchar>
#include <functional>

#include "opc/ComText.h"
#include "opc/Guids.h"

namespace tw::opc {
namespace {

HRESULT WithCatRegister(const std::function<void(ICatRegister*)>& action) {
    const HRESULT init = CoInitialize(nullptr);
    ICatRegister* cr = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_ComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_CatRegister, reinterpret_cast<void**>(&cr));
    if (SUCCEEDED(hr)) {
        action(cr);
        cr->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return hr;
}

}  // namespace

HRESULT RegisterClassInCategory(REFCLSID clsid, REFGUID catid, const std::wstring& categoryDescription) {
    return WithCatRegister([&](ICatRegister* cr) {
        CATEGORYINFO info{};
        info.catid = catid;
        info.lcid = GetUserDefaultLCID();
        const size_t n = categoryDescription.size() < 127 ? categoryDescription.size() : 127;
        std::wmemcpy(info.szDescription, categoryDescription.c_str(), n);
        info.szDescription[n] = L'\0';
        cr->RegisterCategories(1, &info);
        CATID ids[1] = {catid};
        cr->RegisterClassImplCategories(clsid, 1, ids);
    });
}

HRESULT UnregisterClassFromCategory(REFCLSID clsid, REFGUID catid) {
    return WithCatRegister([&](ICatRegister* cr) {
        CATID ids[1] = {catid};
        cr->UnRegisterClassImplCategories(clsid, 1, ids);
        // The manager leaves the emptied list behind, and it would keep the class key alive after the
        // class is gone; a list that still names other categories is not deleted.
        RegDeleteKeyW(HKEY_CLASSES_ROOT, (L"CLSID\\" + Widen(GuidText(clsid)) + L"\\Implemented Categories").c_str());
    });
}

HRESULT UnregisterCategoryIfUnused(REFGUID catid) {
    HRESULT result = S_FALSE;
    const HRESULT hr = WithCatRegister([&](ICatRegister* cr) {
        ICatInformation* info = nullptr;
        result = cr->QueryInterface(IID_CatInformation, reinterpret_cast<void**>(&info));
        if (FAILED(result)) return;
        CATID ids[1] = {catid};
        IEnumCLSID* classes = nullptr;
        result = info->EnumClassesOfCategories(1, ids, static_cast<ULONG>(-1), nullptr, &classes);
        if (SUCCEEDED(result)) {
            CLSID member;
            ULONG fetched = 0;
            const bool inUse = classes->Next(1, &member, &fetched) == S_OK && fetched == 1;
            classes->Release();
            result = inUse ? S_FALSE : cr->UnRegisterCategories(1, ids);
        }
        info->Release();
    });
    return FAILED(hr) ? hr : result;
}

}  // namespace tw::opc
