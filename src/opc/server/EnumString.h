// IEnumString over a snapshot of texts (group names, browsed item names).
#pragma once

#include <string>
#include <vector>

#include "opc/server/EnumCursor.h"

namespace tw::opc {

class TOPCStringsEnumerator final
    : public TSnapshotEnumerator<IEnumString, TOPCStringsEnumerator, IID_IEnumString> {
public:
    // The texts are copied; *out gets one reference. E_OUTOFMEMORY when it cannot be made.
    static HRESULT Create(const std::vector<std::string>& texts, IEnumString** out) { return Make(texts, out); }

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override;
    const std::vector<std::string>& Elements() const { return texts_; }

private:
    friend class TSnapshotEnumerator<IEnumString, TOPCStringsEnumerator, IID_IEnumString>;
    explicit TOPCStringsEnumerator(const std::vector<std::string>& texts) : texts_(texts) {}

    std::vector<std::string> texts_;
};

}  // namespace tw::opc
