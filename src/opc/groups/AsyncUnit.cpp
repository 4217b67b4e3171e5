#include "opc/groups/AsyncUnit.h"

#include <oleauto.h>

namespace tw::opc {
namespace {

DWORD transactionCounter = 1;

}  // namespace

DWORD NextTransactionId() { return ++transactionCounter; }

TAsyncIO2::~TAsyncIO2() {
    for (VARIANT& v : Values) VariantClear(&v);
}

}  // namespace tw::opc
