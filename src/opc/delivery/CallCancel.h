// Cancelling a delivery thread's call to a hung client, where the system can.
#pragma once

#include <windows.h>

namespace tw::opc {

// Any thread: asks COM to cancel the outgoing call under way on threadId (which enabled call
// cancellation). Nothing under Wine, whose CoCancelCall is an unimplemented stub that ends the
// calling process: there the call is left to end by itself.
void CancelCallOf(DWORD threadId);

}  // namespace tw::opc
