// CheckResult: one log line (two on failure) for the result of each SimConnect
// call, with the SendID of the request the connection sent last.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "bridge/module_state.h"
#include "lvar/bridge_services.h"
#include "simconnect/SimConnect.h"

bool CheckResult(const char* label, HRESULT result) {
  // -1 when there is no connection to ask (holder gone or handle empty).
  int32_t sendId = -1;
  uint32_t lastSent = 0;
  if (SimConnect_GetLastSentPacketID(bridge::CurrentConnection(), &lastSent) == S_OK) {
    sendId = static_cast<int32_t>(lastSent);
  }
  if (result == 0) {
    LogMessage("SimConnect: %s ==> SUCCESS (SendID = %d)", label, sendId);
    return true;
  }
  LogMessage("SimConnect: %s (%08x) (SendID = %d) ==> FAILED", label, static_cast<unsigned>(result), sendId);
  LogMessage("gnDisplay %ld", static_cast<long>(result));
  return false;
}
