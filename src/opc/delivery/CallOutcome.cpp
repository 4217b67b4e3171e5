#include "opc/delivery/CallOutcome.h"

#include <winerror.h>

namespace tw::opc {

TCallOutcome OutcomeOf(HRESULT hr) {
    switch (hr) {
    case RPC_E_DISCONNECTED:    // the client disconnected the sink object (CoDisconnectObject)
    case CO_E_OBJNOTCONNECTED:  // or it is no longer connected to its stub
    case RPC_E_INVALID_OBJECT: return TCallOutcome::SinkGone;
    case RPC_E_SERVER_DIED:  // the client's process died during the call
    case RPC_E_SERVER_DIED_DNE:
    case RPC_E_CLIENT_DIED:
    case RPC_E_CONNECTION_TERMINATED:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):  // the client's process is gone (Wine: at once)
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
    case HRESULT_FROM_WIN32(RPC_S_COMM_FAILURE): return TCallOutcome::ClientGone;
    default: return TCallOutcome::Answered;
    }
}

}  // namespace tw::opc
