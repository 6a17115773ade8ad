// ProcessHostRequest: the checks made before a request is served and the table
// of the fifteen command codes.
#include "bridge/host_request.h"

#include "bridge/module_state.h"
#include "bridge/received_fields.h"
#include "bridge/send_keys.h"
#include "bridge/simulator_messages.h"
#include "lvar/bridge_services.h"
#include "lvar/lvar_handler.h"
#include "lvar/records.h"
#include "simconnect/protocol.h"

namespace bridge {
namespace {

void RunCommand(LVARHandler& handler, const records::HostRequest& request) {
  switch (request.command) {
    case records::kCommandRebuild:
      handler.ScanLVARS(false, true);
      break;
    case records::kCommandSendLVARS:
      handler.SendLVARS();
      break;
    case records::kCommandStartMonitoring:
      handler.StartMonitoring(request);
      break;
    case records::kCommandStopMonitoring:
      handler.StopMonitoring(request);
      break;
    case records::kCommandSetValue:
      handler.SetValue(request);
      break;
    case records::kCommandForceUpdate:
      handler.ForceUpdate(request);
      break;
    case records::kCommandAttention:
      ShowText("TAVO.quin needs your attention!");
      break;
    case records::kCommandConnect:
      handler.Connect(request);
      break;
    case records::kCommandSendAircraftName:
      handler.SendAircraftName();
      break;
    case records::kCommandSendKeys:
      SendKeys(request.name);
      break;
    case records::kCommandHeartbeat:
      handler.lastHeartbeatTick = CurrentTick();
      break;
    case records::kCommandNone8:
    case records::kCommandNone11:
    case records::kCommandNone12:
    case records::kCommandNone13:
    default:
      break;
  }
}

}  // namespace

void ProcessHostRequest(const void* message, uint32_t size) {
  if (Panels == nullptr) {
    LogMessage("NO PANELS, no fish and no chips!");
    return;
  }
  LVARHandler* handler = lvarHandler.load(std::memory_order_acquire);
  if (handler == nullptr) return;  // set-up ran out of memory
  // Any client-data message keeps the application's connection alive, before
  // its request id is looked at.
  handler->lastHeartbeatTick = CurrentTick();

  const auto* bytes = static_cast<const uint8_t*>(message);
  uint32_t requestId = 0;
  if (!received_fields::ReadRequestId(bytes, size, &requestId) || requestId != records::kHostRequestId) return;

  // The name is NUL-terminated here even when the record's was not (cut at
  // 255 characters).
  records::HostRequest request{};
  if (!received_fields::ReadHostRequest(bytes, size, &request)) {
    LogTooShort(protocol::kKindClientData, size);
    return;
  }

  if (accessDisabled) {
    LogMessage("HostRequest %08x", request.command);
    LogMessage("Processing disabled");
    return;
  }
  if (request.command > records::kHighestCommand) return;
  RunCommand(*handler, request);
}

}  // namespace bridge
