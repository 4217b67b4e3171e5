// Asynchronous transactions: a request queued by IOPCAsyncIO2, or a subscription's data change, that
// waits in its group's pending list for the next update pass.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <vector>

#include "OPCDA.h"
#include "opc/delivery/Delivery.h"

namespace tw::opc {

class TOPCGroup;

// Transaction ids (cancel ids): the first one issued in the process is 2; shared by every group.
DWORD NextTransactionId();

enum class TAsyncKind : uint32_t { Read = 1, Write = 2, Refresh = 3, DataChange = 4 };

// One named item of a request. The position is where the item stood when the request was made; the
// server handle says which item it was, so a request still reaches that item after a RemoveItems has
// moved it, and reaches nothing once it has been removed.
struct TAsyncEntry {
    uint32_t Position = 0;
    OPCHANDLE ServerHandle = 0;
};

struct TAsyncIO2 {
    TAsyncIO2(TOPCGroup* owner, TAsyncKind k, DWORD source, DWORD clientTransaction)
        : Group(owner), DataSource(source), Kind(k), ClientTransactionId(clientTransaction),
          TransactionId(NextTransactionId()) {}
    ~TAsyncIO2();
    TAsyncIO2(const TAsyncIO2&) = delete;
    TAsyncIO2& operator=(const TAsyncIO2&) = delete;

    TOPCGroup* Group;
    DWORD DataSource;
    bool Cancelled = false;
    // Reached by its run of the pending list: its completion is made (or skipped), so it is gone for
    // Cancel2 although it stays in the list until the run ends, and its callback may still be on its
    // way to the client.
    bool Executed = false;
    std::vector<TAsyncEntry> Entries;  // read and write
    std::vector<VARIANT> Values;       // write: one per entry, VT_EMPTY when the copy failed
    TAsyncKind Kind;
    DWORD ClientTransactionId;
    DWORD TransactionId;
    // Accepted entries for read and write, changed items for a data change (read from the group's
    // changed-item buffer, which the transaction does not own).
    DWORD Count = 0;
};

}  // namespace tw::opc
