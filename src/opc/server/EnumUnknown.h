// IEnumUnknown over a snapshot of object references (groups); holds one reference on each.
#pragma once

#include <vector>

#include "opc/server/EnumCursor.h"

namespace tw::opc {

class TMRDUnknownEnumerator final
    : public TSnapshotEnumerator<IEnumUnknown, TMRDUnknownEnumerator, IID_IEnumUnknown> {
public:
    // Takes a reference on each element; *out gets one reference. E_OUTOFMEMORY when it cannot be made.
    static HRESULT Create(const std::vector<IUnknown*>& elements, IEnumUnknown** out) { return Make(elements, out); }

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) override;
    const std::vector<IUnknown*>& Elements() const { return elements_; }

private:
    friend class TSnapshotEnumerator<IEnumUnknown, TMRDUnknownEnumerator, IID_IEnumUnknown>;
    explicit TMRDUnknownEnumerator(const std::vector<IUnknown*>& elements);
    ~TMRDUnknownEnumerator() override;

    std::vector<IUnknown*> elements_;
};

}  // namespace tw::opc
