// SetupConnection, SimConnectProcess and onRecvEvent (see simulator_messages.h).
#include "bridge/simulator_messages.h"

#include <cstring>
#include <new>

#include "bridge/host_request.h"
#include "bridge/module_state.h"
#include "bridge/received_fields.h"
#include "lvar/bridge_services.h"
#include "lvar/lvar_handler.h"
#include "simconnect/SimConnect.h"
#include "simconnect/protocol.h"

namespace bridge {
namespace {

constexpr char kRequestDataLabel[] = "SimConnect_RequestDataOnSimObject";
constexpr char kTextLabel[] = "SimConnect_Text";
constexpr size_t kAboutBufferSize = 1024;

HRESULT RequestTitle(uint32_t requestId, uint32_t period) {
  return SimConnect_RequestDataOnSimObject(CurrentConnection(), requestId, kTitleDefinition, kUserAircraft, period, 0,
                                           0, 0, 0);
}

// The aircraft title (object data of requests 10001 and 10002). The title is
// null when no NUL-terminated text lies between offset 40 and the message's end.
void OnTitleData(const uint8_t* message, uint32_t size) {
  uint32_t requestId = 0;
  if (!received_fields::ReadRequestId(message, size, &requestId)) return;
  if (requestId != kTitleRequestPeriodic && requestId != kTitleRequestOnce) return;
  const char* title = nullptr;
  uint32_t paddedSize = 0;
  SimConnect_RetrieveString(message, size, message + protocol::data_msg::kData, &title, &paddedSize);
  if (LVARHandler* handler = lvarHandler.load(std::memory_order_acquire)) handler->OnAircraftTitle(title);
}

void EnableAccess() {
  if (Panels == nullptr) {
    LogMessage("EnableLVARS: No LVARS found.");
    return;
  }
  accessDisabled = false;
  if (LVARHandler* handler = lvarHandler.load(std::memory_order_acquire)) handler->ScanLVARS(false, false);
  CheckResult(kRequestDataLabel, RequestTitle(kTitleRequestPeriodic, kPeriodSimFrame));
  ShowText("TAVO.quin: LVAR access enabled");
  CheckResult("SimConnect_MenuRemoveSubItem(Enable LVAR Access)",
              SimConnect_MenuRemoveSubItem(CurrentConnection(), kMenuTopEvent, kMenuEnableEvent));
  CheckResult("SimConnect_MenuAddSubItem(Disable LVAR Access)",
              SimConnect_MenuAddSubItem(CurrentConnection(), kMenuTopEvent, "Disable LVAR Access", kMenuDisableEvent, 0));
}

void DisableAccess() {
  if (Panels == nullptr) {
    LogMessage("DisableLVARS: No LVARS found.");
    return;
  }
  accessDisabled = true;
  if (LVARHandler* handler = lvarHandler.load(std::memory_order_acquire)) handler->ScanLVARS(false, false);
  CheckResult(kRequestDataLabel, RequestTitle(kTitleRequestPeriodic, kPeriodNever));
  ShowText("TAVO.quin: LVAR access disabled");
  CheckResult("SimConnect_MenuRemoveSubItem(Disable LVAR Access)",
              SimConnect_MenuRemoveSubItem(CurrentConnection(), kMenuTopEvent, kMenuDisableEvent));
  CheckResult("SimConnect_MenuAddSubItem(Enable LVAR Access)",
              SimConnect_MenuAddSubItem(CurrentConnection(), kMenuTopEvent, "Enable LVAR Access", kMenuEnableEvent, 0));
}

void ShowAbout() {
  char text[kAboutBufferSize] = {};
  strcat_s(text, kAboutBufferSize, "TAVO.quin Simulator Bridge Version ");
  strcat_s(text, kAboutBufferSize, kVersion);
  ShowText(text);
}

}  // namespace

void LogTooShort(uint32_t kind, uint32_t size) { LogMessage("SimConnectProcess %08x too short: %u bytes", kind, size); }

void ShowText(const char* text) {
  // The data size counts the NUL.
  uint32_t size = static_cast<uint32_t>(std::strlen(text) + 1);
  CheckResult(kTextLabel, SimConnect_Text(CurrentConnection(), kTextTypeScrollingYellow, kTextSeconds, kTextEvent,
                                          size, text));
}

void SetupConnection() {
  LogMessage("SimConnect: OpenEvent");
  CheckResult("SimConnect_MenuAddItem(TAVO.quin)",
              SimConnect_MenuAddItem(CurrentConnection(), "TAVO.quin", kMenuTopEvent, 0));
  CheckResult("SimConnect_MenuAddSubItem(About)",
              SimConnect_MenuAddSubItem(CurrentConnection(), kMenuTopEvent, "About", kMenuAboutEvent, 0));
  CheckResult("SimConnect_MenuAddSubItem(Disable LVAR Access)",
              SimConnect_MenuAddSubItem(CurrentConnection(), kMenuTopEvent, "Disable LVAR Access", kMenuDisableEvent, 0));
  CheckResult("SimConnect_AddToDataDefinition(TITLE)",
              SimConnect_AddToDataDefinition(CurrentConnection(), kTitleDefinition, "TITLE", nullptr, kDataTypeString260,
                                             0.0f, kDatumIdUnused));
  CheckResult(kRequestDataLabel, RequestTitle(kTitleRequestPeriodic, kPeriodSecond));
  CheckResult(kRequestDataLabel, RequestTitle(kTitleRequestOnce, kPeriodOnce));

  // The answers to the title requests are dispatched only after this returns,
  // so the handler exists before any received message is handled.
  // Out of memory leaves the bridge without a handler: every message that
  // would need it is then dropped.
  auto* handler = new (std::nothrow) LVARHandler();
  lvarHandler.store(handler, std::memory_order_release);
  if (handler != nullptr) handler->Startup();
}

void SimConnectProcess(const void* message, uint32_t size) {
  const auto* bytes = static_cast<const uint8_t*>(message);
  uint32_t kind = 0;
  switch (received_fields::RouteOf(bytes, size, &kind)) {
    case received_fields::Route::kNoHeader:
      LogMessage("SimConnectProcess message of %u bytes too short", size);
      break;
    case received_fields::Route::kTooShort:
      LogTooShort(kind, size);
      break;
    case received_fields::Route::kException: {
      received_fields::ExceptionFields fields{};
      received_fields::ReadException(bytes, size, &fields);
      LogMessage("SimConnect: EXCEPTION index=%d sendid=%d exc=%d", static_cast<int>(fields.index),
                 static_cast<int>(fields.sendId), static_cast<int>(fields.exception));
      break;
    }
    case received_fields::Route::kOpen:
      break;
    case received_fields::Route::kEvent:
      onRecvEvent(message, size);
      break;
    case received_fields::Route::kObjectData:
      OnTitleData(bytes, size);
      break;
    case received_fields::Route::kClientData:
      ProcessHostRequest(message, size);
      break;
    case received_fields::Route::kOtherKind:
      LogMessage("SimConnectProcess %08x", kind);
      break;
  }
}

void onRecvEvent(const void* message, uint32_t size) {
  const auto* bytes = static_cast<const uint8_t*>(message);
  uint32_t eventId = 0;
  uint32_t headerSize = 0;
  if (!received_fields::ReadEventId(bytes, size, &eventId)) return;
  received_fields::ReadHeaderSize(bytes, size, &headerSize);
  LogMessage("onRecvEvent %d (%d)", static_cast<int>(eventId), static_cast<int>(headerSize));
  switch (eventId) {
    case kMenuEnableEvent:
      EnableAccess();
      break;
    case kMenuDisableEvent:
      DisableAccess();
      break;
    case kMenuAboutEvent:
      ShowAbout();
      break;
    default:
      break;
  }
}

}  // namespace bridge
