#include "opc/delivery/Delivery.h"

#include <oleauto.h>

#include "OPCCOMN.h"
#include "tags/Quality.h"

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

void TDelivery::Fold(TDelivery&& later) {
    if (index_.empty())
        for (std::size_t i = 0; i < ServerHandles.size(); ++i) index_.emplace(ServerHandles[i], i);
    TCallbackArrays& to = Items;
    TCallbackArrays& from = later.Items;
    for (std::size_t j = 0; j < later.ServerHandles.size(); ++j) {
        const auto [at, added] = index_.emplace(later.ServerHandles[j], ServerHandles.size());
        if (added) {
            ServerHandles.push_back(later.ServerHandles[j]);
            to.clientHandles.push_back(from.clientHandles[j]);
            to.values.push_back(from.values[j]);
            to.qualities.push_back(from.qualities[j]);
            to.timestamps.push_back(from.timestamps[j]);
            to.errors.push_back(from.errors[j]);
        } else {
            const std::size_t i = at->second;
            to.clientHandles[i] = from.clientHandles[j];
            VariantClear(&to.values[i]);
            to.values[i] = from.values[j];
            to.qualities[i] = from.qualities[j];
            to.timestamps[i] = from.timestamps[j];
            to.errors[i] = from.errors[j];
        }
        VariantInit(&from.values[j]);  // moved: the later delivery no longer owns it
    }
    Folded += 1 + later.Folded;
}

HRESULT TDelivery::Call(IUnknown* sink) {
    if (!sink) return E_POINTER;
    TCallbackArrays& a = Items;
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
