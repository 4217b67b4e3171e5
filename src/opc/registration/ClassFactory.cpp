#include "opc/registration/ClassFactory.h"

#include <new>

namespace tw::opc {

TClassFactory* TClassFactory::Create(TServerLifetime& lifetime, bool createsServer) {
    return new (std::nothrow) TClassFactory(lifetime, createsServer);
}

void* TClassFactory::FindInterface(REFIID riid) {
    return LookUp(riid, {{IID_IClassFactory, static_cast<IClassFactory*>(this)}});
}

HRESULT TClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!createsServer_) return CLASS_E_CLASSNOTAVAILABLE;
    return TDA2::Create(riid, ppv, &lifetime_);
}

HRESULT TClassFactory::LockServer(BOOL lock) {
    if (lock)
        lifetime_.Lock();
    else
        lifetime_.Unlock();
    return S_OK;
}

}  // namespace tw::opc
