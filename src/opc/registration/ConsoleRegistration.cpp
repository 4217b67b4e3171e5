#include "opc/registration/ConsoleRegistration.h"

#include "opc/registration/ComServer.h"
#include "opc/registration/RegDeRegServer.h"

namespace tw::opc {

void RegSerBtnClick(IGeneral& general, IClassesRegistry& registry) {
    try {
        RegisterOPCServer(kOPCProgId, registry);
    } catch (const TRegistrationError& e) {
        general.ShowMsg(e.what(), mkError, mbOKOnly, 0);
        return;
    }
    // Clients in other processes reach the server only through a proxy/stub of their own bitness.
    if (!registry.RegisterProxyStubs(ProcessExePath())) {
        general.ShowMsg(kRegistryErrorText, mkError, mbOKOnly, 0);
        return;
    }
    general.ShowMsg("The OPC Server has been registered successfully!", mkInformation, mbOKOnly, 0);
}

void UnRegBtnClick(IGeneral& general, IClassesRegistry& registry) {
    if (general.ShowMsg("Are you sure you want to unregister the OPC server?\r\r"
                        "After unregistered, the OPC server is no longer available.",
                        mkConfirmation, mbYesNo, 0) != mrYes)
        return;
    UnregisterOPCServer(kOPCProgId, registry);
    general.ShowMsg("The OPC Server has been unregistered successfully!", mkInformation, mbOKOnly, 0);
}

}  // namespace tw::opc
