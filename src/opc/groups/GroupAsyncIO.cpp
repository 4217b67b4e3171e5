// IOPCAsyncIO2 of the group: requests are queued here and carried out by the next update pass
// (GroupPulse.cpp), which answers them through the client's IOPCDataCallback. Cancel2 answers at once;
// its notice travels with the group's other callbacks.
#include "opc/groups/GroupUnit.h"

#include <oleauto.h>

#include <new>

#include "opc/OpcError.h"
#include "opc/groups/TaskArray.h"
#include "opc/server/ServIMPL.h"

namespace tw::opc {
namespace {

// A value whose copy would hold the client's objects or records: objects, records, a variant by
// reference (which may hold either), and arrays, whose elements may be either. No write takes any of
// them; kept, converting or releasing them would call the client from the update pass.
bool HoldsClientObjects(const VARIANT& v) {
    const VARTYPE base = v.vt & VT_TYPEMASK;
    return (v.vt & VT_ARRAY) || base == VT_DISPATCH || base == VT_UNKNOWN || base == VT_RECORD || base == VT_VARIANT;
}

}  // namespace

HRESULT TOPCGroup::QueueItems(TAsyncKind kind, DWORD dwCount, const OPCHANDLE* phServer, const VARIANT* pItemValues,
                              DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors) {
    if (ppErrors) *ppErrors = nullptr;
    if (!sink_) return CONNECT_E_NOCONNECTION;
    if (dwCount == 0 || !phServer || !pdwCancelID || !ppErrors) return E_INVALIDARG;
    if (kind == TAsyncKind::Write && !pItemValues) return E_INVALIDARG;
    TTaskArray<HRESULT> errors(dwCount);
    if (!errors) return E_OUTOFMEMORY;
    std::unique_ptr<TAsyncIO2> t;
    try {
        const DWORD source = kind == TAsyncKind::Read ? OPC_DS_DEVICE : 0;
        t = std::make_unique<TAsyncIO2>(this, kind, source, dwTransactionID);
        t->Entries.reserve(dwCount);
        if (kind == TAsyncKind::Write) t->Values.reserve(dwCount);
        pending_.reserve(pending_.size() + 1);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *pdwCancelID = t->TransactionId;
    for (DWORD i = 0; i < dwCount; ++i) {
        const TOPCItem* item = items_.Find(phServer[i]);
        if (!item) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        errors[i] = S_OK;
        t->Entries.push_back(TAsyncEntry{item->Position, item->ServerHandle});
        if (kind != TAsyncKind::Write) continue;
        VARIANT copy;
        VariantInit(&copy);
        // A value that cannot be copied keeps its entry, with an empty value the pass refuses. So
        // does one that holds the client's objects or records, which no write takes: kept, it would
        // hold them until the pass, whose release then calls out to the client in mid-list (and
        // under Wine the copy of a record is never freed).
        const VARIANT& value = pItemValues[i];
        if (!HoldsClientObjects(value) && FAILED(VariantCopy(&copy, const_cast<VARIANT*>(&value)))) {
            VariantInit(&copy);
            errors[i] = E_FAIL;
        }
        t->Values.push_back(copy);
    }
    t->Count = static_cast<DWORD>(t->Entries.size());
    *ppErrors = errors.Release();
    if (t->Count == 0) return S_FALSE;
    pending_.push_back(std::move(t));  // room was reserved above
    return S_OK;
}

HRESULT TOPCGroup::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                        HRESULT** ppErrors) {
    return QueueItems(TAsyncKind::Read, dwCount, phServer, nullptr, dwTransactionID, pdwCancelID, ppErrors);
}

HRESULT TOPCGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                         DWORD* pdwCancelID, HRESULT** ppErrors) {
    return QueueItems(TAsyncKind::Write, dwCount, phServer, pItemValues, dwTransactionID, pdwCancelID, ppErrors);
}

HRESULT TOPCGroup::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) {
    if (!sink_) return CONNECT_E_NOCONNECTION;
    if ((dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE) || !pdwCancelID) return E_INVALIDARG;
    if (!active_ || items_.Empty()) return E_FAIL;
    for (const auto& item : items_)
        if (!item->Active) return E_FAIL;
    try {
        pending_.reserve(pending_.size() + 1);
        pending_.push_back(std::make_unique<TAsyncIO2>(this, TAsyncKind::Refresh, dwSource, dwTransactionID));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *pdwCancelID = pending_.back()->TransactionId;
    return S_OK;
}

HRESULT TOPCGroup::Cancel2(DWORD dwCancelID) {
    // A transaction whose completion a callback of this run has already made (or is making) cannot
    // be cancelled any more: the client must never get both a completion and a cancel notice.
    TAsyncIO2* found = nullptr;
    for (const auto& t : pending_) {
        if (t->TransactionId == dwCancelID && !t->Executed) {
            found = t.get();
            break;
        }
    }
    if (!found) return E_FAIL;
    found->Cancelled = true;
    // The notice follows the group's earlier callbacks. An in-process sink gets it at once and may
    // call back in; nothing of the transaction is used after it.
    try {
        Deliver(NewDelivery(TDeliveryKind::CancelComplete, found->ClientTransactionId, 0));
    } catch (const std::bad_alloc&) {
        // The transaction stays cancelled; only its notice is lost.
    }
    return S_OK;
}

HRESULT TOPCGroup::SetEnable(BOOL bEnable) {
    if (!sink_) return CONNECT_E_NOCONNECTION;
    asyncEnable_ = bEnable;
    return S_OK;
}

HRESULT TOPCGroup::GetEnable(BOOL* pbEnable) {
    if (!sink_) return CONNECT_E_NOCONNECTION;
    if (!pbEnable) return E_INVALIDARG;
    *pbEnable = asyncEnable_;
    return S_OK;
}

}  // namespace tw::opc
