#include "opc/delivery/Delivery.h"

#include <oleauto.h>

#include "OPCCOMN.h"
#include "opc/groups/ItemsUnit.h"
#include "values/Quality.h"

namespace tw::opc {

TCallbackArrays::TCallbackArrays(std::size_t count)
    : clientHandles(count, 0), values(count), qualities(count, kQualityBad), timestamps(count), errors(count, S_OK) {
    for (VARIANT& v : values) VariantInit(&v);
}

TCallbackArrays::~TCallbackArrays() {
    for (VARIANT& v : values) VariantClear(&v);
}

void TCallbackArrays::Truncate(std::size_t count) {
    for (std::size_t i = count; i < values.size(); ++i) VariantClear(&values[i]);
    clientHandles.resize(count);
    values.resize(count);
    qualities.resize(count);
    timestamps.resize(count);
    errors.resize(count);
}

void TCallbackArrays::Reset(std::size_t count) {
    for (VARIANT& v : values) VariantClear(&v);
    clientHandles.assign(count, 0);
    values.resize(count);
    for (VARIANT& v : values) VariantInit(&v);
    qualities.assign(count, kQualityBad);
    timestamps.assign(count, FILETIME{});
    errors.assign(count, S_OK);
}

HRESULT TCallbackArrays::MasterQuality() const {
    for (WORD q : qualities)
        if (!IsGoodQuality(q)) return S_FALSE;
    return S_OK;
}

HRESULT TCallbackArrays::MasterError() const {
    for (HRESULT e : errors)
        if (e != S_OK) return S_FALSE;
    return S_OK;
}

void TDelivery::Reset(TDeliveryKind kind, OPCHANDLE group, DWORD transactionId, OPCHANDLE clientGroup,
                      std::size_t count) {
    Kind = kind;
    Group = group;
    TransactionId = transactionId;
    ClientGroup = clientGroup;
    Link = 0;
    ItemsLeftOut = false;
    Items.Reset(count);
    Updates.clear();
    Reason.clear();
    Folded = 0;
    index_.clear();
}

void TDelivery::Fold(TDelivery&& later) {
    if (index_.empty())
        for (std::size_t i = 0; i < Updates.size(); ++i) index_.emplace(Updates[i].ServerHandle, i);
    for (const TItemUpdate& u : later.Updates) {
        const auto [at, added] = index_.emplace(u.ServerHandle, Updates.size());
        if (added)
            Updates.push_back(u);
        else
            Updates[at->second] = u;
    }
    // The newest client group handle: the client may have changed it since (SetState).
    ClientGroup = later.ClientGroup;
    Folded += 1 + later.Folded;
}

TCallbackArrays& TDelivery::Arrays() {
    if (Kind != TDeliveryKind::DataChange) return Items;
    Items.Reset(Updates.size());
    for (std::size_t i = 0; i < Updates.size(); ++i) {
        const TItemUpdate& u = Updates[i];
        Items.clientHandles[i] = u.ClientHandle;
        Items.timestamps[i] = u.Stamp;
        Items.qualities[i] = u.Quality;
        ReportedValue(u.Value, u.DataType, u.Requested, u.Canonical, Items.qualities[i], Items.values[i], Items.errors[i]);
    }
    return Items;
}

HRESULT TDelivery::Call(IUnknown* sink) {
    if (!sink) return E_POINTER;
    TCallbackArrays& a = Arrays();
    if (Kind == TDeliveryKind::Shutdown) return static_cast<IOPCShutdown*>(sink)->ShutdownRequest(Reason.c_str());
    auto* callback = static_cast<IOPCDataCallback*>(sink);
    switch (Kind) {
    case TDeliveryKind::DataChange:
    case TDeliveryKind::Refresh:
        return callback->OnDataChange(TransactionId, ClientGroup, ItemsLeftOut ? S_FALSE : a.MasterQuality(),
                                      a.MasterError(), a.Count(), a.clientHandles.data(), a.values.data(),
                                      a.qualities.data(), a.timestamps.data(), a.errors.data());
    case TDeliveryKind::ReadComplete:
        return callback->OnReadComplete(TransactionId, ClientGroup, a.MasterQuality(), a.MasterError(), a.Count(),
                                        a.clientHandles.data(), a.values.data(), a.qualities.data(),
                                        a.timestamps.data(), a.errors.data());
    case TDeliveryKind::WriteComplete:
        return callback->OnWriteComplete(TransactionId, ClientGroup, a.MasterError(), a.Count(),
                                         a.clientHandles.data(), a.errors.data());
    case TDeliveryKind::CancelComplete: return callback->OnCancelComplete(TransactionId, ClientGroup);
    default: return E_UNEXPECTED;
    }
}

}  // namespace tw::opc
