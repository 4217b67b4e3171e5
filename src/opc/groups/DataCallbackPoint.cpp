#include "opc/groups/DataCallbackPoint.h"

#include "OPCDA.h"
#include "opc/OpcError.h"

namespace tw::opc {

TDataCallbackPoint::~TDataCallbackPoint() { ReleaseSinks(); }

HRESULT TDataCallbackPoint::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

HRESULT TDataCallbackPoint::GetConnectionInterface(IID* pIID) {
    if (!pIID) return E_POINTER;
    *pIID = IID_IOPCDataCallback;
    return S_OK;
}

HRESULT TDataCallbackPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
    if (!ppCPC) return E_POINTER;
    container_.AddRef();
    *ppCPC = &container_;
    return S_OK;
}

HRESULT TDataCallbackPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
    if (pdwCookie) *pdwCookie = 0;
    if (!pUnkSink || !pdwCookie) return E_POINTER;
    std::size_t slot = 0;
    while (slot < sinks_.size() && sinks_[slot]) ++slot;
    try {
        if (slot == sinks_.size()) sinks_.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    pUnkSink->AddRef();
    sinks_[slot] = pUnkSink;
    *pdwCookie = static_cast<DWORD>(slot + 1);
    listener_.SinkAdvised(pUnkSink);
    return S_OK;
}

HRESULT TDataCallbackPoint::Unadvise(DWORD dwCookie) {
    if (dwCookie == 0 || dwCookie > sinks_.size() || !sinks_[dwCookie - 1]) return CONNECT_E_NOCONNECTION;
    IUnknown* sink = sinks_[dwCookie - 1];
    sinks_[dwCookie - 1] = nullptr;
    listener_.SinkUnadvised();
    sink->Release();  // may call out of the apartment: the slot is already free
    return S_OK;
}

HRESULT TDataCallbackPoint::EnumConnections(IEnumConnections** ppEnum) {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
}

void TDataCallbackPoint::ReleaseSinks() {
    std::vector<IUnknown*> sinks;
    sinks.swap(sinks_);
    for (IUnknown* s : sinks)
        if (s) s->Release();
}

TConnectionPointEnumerator::TConnectionPointEnumerator(const std::vector<IConnectionPoint*>& points)
    : points_(points) {
    for (IConnectionPoint* p : points_) p->AddRef();
}

TConnectionPointEnumerator::~TConnectionPointEnumerator() {
    for (IConnectionPoint* p : points_) p->Release();
}

HRESULT TConnectionPointEnumerator::Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) {
    // Without a count the client could not know how many points (each with a reference) it got.
    if (!pcFetched && cConnections != 1) return E_POINTER;
    ULONG fetched = 0;
    const HRESULT hr = cursor_.Next(cConnections, ppCP, &fetched, points_.size(), S_FALSE,
                                    [&](size_t index, IConnectionPoint*& slot) {
                                        slot = points_[index];
                                        slot->AddRef();
                                        return true;
                                    });
    if (pcFetched) *pcFetched = fetched;
    if (FAILED(hr)) return hr;
    return fetched == cConnections ? S_OK : S_FALSE;
}

}  // namespace tw::opc
