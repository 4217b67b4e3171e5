// Texts for result codes, as both GetErrorString methods return them.
#pragma once

#include <windows.h>

#include <string>

namespace tw::opc {

// The OPC text for the OPC codes (always English), else the system's message text without its
// trailing line break and full stop; empty when there is none.
std::string GetErrorText(HRESULT code);

}  // namespace tw::opc
