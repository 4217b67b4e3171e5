#include "opc/server/EnumUnknown.h"

namespace tw::opc {

TMRDUnknownEnumerator::TMRDUnknownEnumerator(const std::vector<IUnknown*>& elements) : elements_(elements) {
    for (IUnknown* u : elements_)
        if (u) u->AddRef();
}

TMRDUnknownEnumerator::~TMRDUnknownEnumerator() {
    for (IUnknown* u : elements_)
        if (u) u->Release();
}

HRESULT TMRDUnknownEnumerator::Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) {
    return cursor_.Next(celt, rgelt, pceltFetched, elements_.size(), S_FALSE, [this](size_t i, IUnknown*& slot) {
        slot = elements_[i];
        if (slot) slot->AddRef();
        return true;
    });
}

}  // namespace tw::opc
