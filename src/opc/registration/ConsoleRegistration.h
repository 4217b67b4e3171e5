// What the server console's "Register" and "Unregister" buttons do.
#pragma once

#include "libs/General.h"
#include "opc/registration/Registry.h"

namespace tw::opc {

void RegSerBtnClick(IGeneral& general, IClassesRegistry& registry);
void UnRegBtnClick(IGeneral& general, IClassesRegistry& registry);

}  // namespace tw::opc
