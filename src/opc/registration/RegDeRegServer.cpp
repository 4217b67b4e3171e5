#include "opc/registration/RegDeRegServer.h"

#include "Tarnowick.h"
#include "TarnowickVersion.h"
#include "opc/ComText.h"
#include "opc/Guids.h"
#include "opc/registration/ComCat.h"
#include "opc/server/OPCErrorStrings.h"

namespace tw::opc {

const char kOPCProgId[] = "VelmoraTarnowick.DA2.1";

namespace {

const char kProgIdDescription[] = "Velmora Tarnowick Data Access Server Version 2.0";
const char kClassDescription[] = "Velmora Tarnowick OPC Data Access";
const char kVendorText[] = "2026 " TW_VENDOR;

std::string ServerClassKey() { return "CLSID\\" + GuidText(CLSID_DA2); }

}  // namespace

void RegisterOPCProgIdName(const std::string& progId, IClassesRegistry& registry) {
    WriteDefaultValue(registry, progId, kProgIdDescription);
    WriteDefaultValue(registry, progId + "\\CLSID", GuidText(CLSID_DA2));
}

void UnregisterOPCProgIdName(const std::string& progId, IClassesRegistry& registry) {
    registry.DeleteKey(progId + "\\CLSID");
    registry.DeleteKey(progId);
}

void RegisterOPCServer(const std::string& progId, IClassesRegistry& registry) {
    RegisterOPCProgIdName(progId, registry);
    WriteDefaultValue(registry, progId + "\\OPC", "");
    WriteDefaultValue(registry, progId + "\\OPC\\Vendor", kVendorText);
    WriteDefaultValue(registry, ServerClassKey(), kClassDescription);
    WriteDefaultValue(registry, ServerClassKey() + "\\ProgID", progId);
    const HRESULT hr = RegisterClassInCategory(CLSID_DA2, CATID_OPCDAServer20, Widen(kClassDescription));
    if (FAILED(hr)) {
        std::string text = GetErrorText(hr);
        throw TRegistrationError(text.empty() ? kRegistryErrorText : text);
    }
}

void UnregisterOPCServer(const std::string& progId, IClassesRegistry& registry) {
    registry.DeleteKey(ServerClassKey() + "\\ProgID");
    registry.DeleteKey(ServerClassKey());
    registry.DeleteKey(progId + "\\CLSID");
    registry.DeleteKey(progId + "\\OPC\\Vendor");
    registry.DeleteKey(progId + "\\OPC");
    registry.DeleteKey(progId);
    UnregisterClassFromCategory(CLSID_DA2, CATID_OPCDAServer20);
}

}  // namespace tw::opc
