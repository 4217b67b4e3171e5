// Identifiers that no IDL file of ours declares: the enumerator classes, the OPC component category
// and the system category manager.
#pragma once

#include <windows.h>

namespace tw::opc {

// Shared by the strings and the IEnumUnknown enumerator classes.
extern const CLSID CLSID_OPCEnumerators;
extern const CLSID CLSID_OPCItemAttEnumerator;
extern const GUID CATID_OPCDAServer20;
extern const CLSID CLSID_ComponentCategoriesMgr;
extern const IID IID_CatRegister;
extern const IID IID_CatInformation;

}  // namespace tw::opc
