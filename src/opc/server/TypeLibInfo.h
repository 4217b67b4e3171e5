// Type information from the type library embedded in the running executable (TYPELIB 1), for the
// dispatch and class information of the COM objects.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace tw::opc {

// The type information for guid (an interface or a coclass), with a reference for the caller, or
// null when the executable carries no type library.
ITypeInfo* TypeInfoOf(REFGUID guid);

}  // namespace tw::opc
