// What the server console's "Register" and "Unregister" buttons do. "Register" also registers the
// proxy/stubs beside the exe (32- and 64-bit, each only where none is), as /RegServer does;
// "Unregister" leaves them, since other clients of the machine may be using them.
#pragma once

#include "libs/General.h"
#include "opc/registration/Registry.h"

namespace tw::opc {

void RegSerBtnClick(IGeneral& general, IClassesRegistry& registry);
void UnRegBtnClick(IGeneral& general, IClassesRegistry& registry);

}  // namespace tw::opc
