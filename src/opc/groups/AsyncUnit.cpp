#include "opc/groups/AsyncUnit.h"

#include <oleauto.h>

#include "opc/groups/ItemsUnit.h"

namespace tw::opc {
namespace {

DWORD transactionCounter = 1;

}  // namespace

DWORD NextTransactionId() { return ++transactionCounter; }

TAsyncIO2::~TAsyncIO2() {
    for (VARIANT& v : Values) VariantClear(&v);
}

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

}  // namespace tw::opc
