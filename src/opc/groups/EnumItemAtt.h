// IEnumOPCItemAttributes over the group's items as they were when the enumerator was made.
#pragma once

#include <vector>

#include "OPCDA.h"
#include "opc/groups/ItemAttributesOPC.h"
#include "opc/server/EnumCursor.h"

namespace tw::opc {

class TOPCItemAttEnumerator final
    : public TSnapshotEnumerator<IEnumOPCItemAttributes, TOPCItemAttEnumerator, IID_IEnumOPCItemAttributes> {
public:
    // Keeps its own copies of records; *out gets one reference. E_OUTOFMEMORY when it cannot be made.
    static HRESULT Create(const std::vector<TOPCItemAttributes>& records, IEnumOPCItemAttributes** out) {
        return Make(records, out);
    }

    // Hands out an array of celt records (all of it, however many were left to fill).
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override;
    const std::vector<TOPCItemAttributes>& Elements() const { return records_; }

private:
    friend class TSnapshotEnumerator<IEnumOPCItemAttributes, TOPCItemAttEnumerator, IID_IEnumOPCItemAttributes>;
    explicit TOPCItemAttEnumerator(const std::vector<TOPCItemAttributes>& records) : records_(records) {}

    std::vector<TOPCItemAttributes> records_;
};

}  // namespace tw::opc
