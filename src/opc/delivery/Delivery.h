// One callback to a client, made by the update pass (or by Cancel2, or by the close) and carried to
// the client by its delivery (ClientDelivery.h). The payload owns every array the call passes.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "OPCDA.h"
#include "values/TypedValue.h"

namespace tw::opc {

// The arrays one callback carries, built before the call and freed after it.
class TCallbackArrays {
public:
    explicit TCallbackArrays(std::size_t count = 0);
    ~TCallbackArrays();
    TCallbackArrays(TCallbackArrays&&) = default;
    TCallbackArrays(const TCallbackArrays&) = delete;
    TCallbackArrays& operator=(const TCallbackArrays&) = delete;
    TCallbackArrays& operator=(TCallbackArrays&&) = delete;

    DWORD Count() const { return static_cast<DWORD>(clientHandles.size()); }
    // S_OK when every quality is in the GOOD class (errors: every error S_OK), else S_FALSE.
    HRESULT MasterQuality() const;
    HRESULT MasterError() const;
    // Keeps the first count entries.
    void Truncate(std::size_t count);
    // count fresh entries, as the constructor makes them, in the memory the arrays already have.
    void Reset(std::size_t count);

    std::vector<OPCHANDLE> clientHandles;
    std::vector<VARIANT> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> timestamps;
    std::vector<HRESULT> errors;
};

// One item of a subscription's data change as the pass took it from the item's cache. It becomes the
// value the client asked for when the callback is made, on the thread that makes it.
struct TItemUpdate {
    OPCHANDLE ServerHandle;  // by which a later data change folds into this one
    OPCHANDLE ClientHandle;
    FILETIME Stamp;
    uint64_t Value;  // in the bits of DataType, as the client sees it (an analog item's engineering value)
    WORD Quality;
    VARTYPE Requested;
    VARTYPE Canonical;
    TDataType DataType;
};

enum class TDeliveryKind : uint8_t {
    DataChange,  // the subscription's (dwTransid 0)
    Refresh,     // OnDataChange answering a Refresh2
    ReadComplete,
    WriteComplete,
    CancelComplete,
    Shutdown,  // IOPCShutdown::ShutdownRequest
};

struct TDelivery {
    TDelivery(TDeliveryKind kind, OPCHANDLE group, DWORD transactionId, OPCHANDLE clientGroup, std::size_t count = 0)
        : Kind(kind), Group(group), TransactionId(transactionId), ClientGroup(clientGroup), Items(count) {}

    TDeliveryKind Kind;
    // The group's server handle, never reused: the deliveries of one group keep their order. 0 for
    // what belongs to no group (a shutdown request).
    OPCHANDLE Group;
    DWORD TransactionId;
    OPCHANDLE ClientGroup;
    // Which sink: set by the delivery that carries it.
    uint32_t Link = 0;
    // A refresh that left inactive items out reports the master quality S_FALSE.
    bool ItemsLeftOut = false;
    // What the callback carries; a data change's are made from Updates when the callback is made.
    TCallbackArrays Items;
    std::vector<TItemUpdate> Updates;  // data change
    std::wstring Reason;               // shutdown request
    // Data changes folded into this one (not counting itself).
    uint32_t Folded = 0;

    // A data change of the same group made later replaces the values of the items both carry and
    // adds the others after them, in its order, and its client group handle replaces this one's; the
    // master values follow from the result.
    void Fold(TDelivery&& later);
    // The callback's arrays, for a data change made from its updates now.
    TCallbackArrays& Arrays();
    // sink is the link's interface: IOPCDataCallback, or IOPCShutdown for a shutdown request. The
    // call's result; a client may fail a callback on purpose.
    HRESULT Call(IUnknown* sink);
    // Made anew for another callback, keeping the memory of its arrays.
    void Reset(TDeliveryKind kind, OPCHANDLE group, DWORD transactionId, OPCHANDLE clientGroup, std::size_t count);

private:
    std::unordered_map<OPCHANDLE, std::size_t> index_;  // item by server handle, built at the first fold
};

}  // namespace tw::opc
