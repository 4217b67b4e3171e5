#include "opc/delivery/CallCancel.h"

#include <objbase.h>

namespace tw::opc {
namespace {

bool RunningUnderWine() {
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

}  // namespace

void CancelCallOf(DWORD threadId) {
    if (!RunningUnderWine()) CoCancelCall(threadId, 0);
}

}  // namespace tw::opc
