// The client-data channel to the application: the four areas, the Connect
// reply, events, the aircraft title and the variable list.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "lvar/bridge_services.h"
#include "lvar/client_data.h"
#include "lvar/lvar_handler.h"
#include "simconnect/SimConnect.h"

namespace {

// Labels are "<call> <name>".
void CheckLabelled(const char* call, const char* name, HRESULT result) {
  char label[128];
  std::snprintf(label, sizeof label, "%s %s", call, name);
  CheckResult(label, result);
}

}  // namespace

void LVARHandler::Startup() {
  LogMessage("LVARHandler::Startup");

  const records::Area* mapOrder[] = {&records::kVarDataArea, &records::kVarDumpArea, &records::kHostRequestArea,
                                     &records::kHostEventArea};
  for (const records::Area* area : mapOrder) {
    CheckLabelled("MapClientDataNameToID", area->areaName,
                  SimConnect_MapClientDataNameToID(SimConnectHandle(), area->areaName, area->areaId));
    CheckLabelled("MapClientDataNameToID", area->definitionName,
                  SimConnect_MapClientDataNameToID(SimConnectHandle(), area->definitionName, area->definitionId));
  }

  // Created in the order they were mapped.
  for (const records::Area* area : mapOrder) {
    CheckLabelled("CreateClientData", area->areaName,
                  SimConnect_CreateClientData(SimConnectHandle(), area->areaId, area->size, 0));
  }

  // One block per area covering the whole record; the labels name the definition.
  const records::Area* defineOrder[] = {&records::kHostRequestArea, &records::kVarDumpArea, &records::kVarDataArea,
                                        &records::kHostEventArea};
  for (const records::Area* area : defineOrder) {
    CheckLabelled("AddToClientDataDefinition", area->definitionName,
                  SimConnect_AddToClientDataDefinition(SimConnectHandle(), area->definitionId, 0, area->size, 0.0f,
                                                       records::kDatumIdUnused));
  }

  CheckLabelled("RequestClientData", records::kHostRequestAreaName,
                SimConnect_RequestClientData(SimConnectHandle(), records::kHostRequestAreaId, records::kHostRequestId,
                                             records::kHostRequestDefinitionId, records::kPeriodOnSet, 0, 0, 0, 0));

  lastHeartbeatTick = CurrentTick();
}

void LVARHandler::Connect(const records::HostRequest& request) {
  LogMessage("LVARHandler::Connect %08x", request.tag);
  if (connected && request.param == peerId) {
    LogMessage("Already connected.");
    return;
  }
  // The reply's result is not reported.
  WriteHostEvent(records::MakeHostEvent(request.tag, records::kEventConnectReply, records::kVersionValue,
                                        records::kVersionText));
  connected = true;
  peerId = request.param;
}

void LVARHandler::SendToClient(uint32_t code, double value, const char* format, ...) {
  char text[records::kHostEventTextSize];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) text[0] = '\0';  // an encoding error leaves an empty text
  LogMessage("LVARHandler::SendToCLient(%08x,%f,%s)", code, value, text);
  CheckResult("SendToClient", WriteHostEvent(records::MakeHostEvent(0, code, value, text)));
}

void LVARHandler::SendAircraftName() {
  LogMessage("LVARHandler::SendAircraftName");
  // The result is not reported.
  WriteHostEvent(records::MakeHostEvent(0, records::kEventAircraftTitle, records::kVersionValue, aircraftTitle));
}

void LVARHandler::SendLVARS() {
  LogMessage("LVARHandler::SendLVARS");
  if (!connected) return;
  ScanLVARS(true, false);

  records::VarDump dump = records::MakeVarDump(0, static_cast<uint32_t>(registry.size()));
  size_t length = 0;  // characters in dump.names
  for (const auto& owned : registry) {
    const LVAREntry& entry = *owned;
    if (entry.mjcCode != 0) continue;
    size_t nameLength = std::strlen(entry.name);
    // Room for the name, its ";" and the closing NUL.
    if (nameLength + 2 + length > records::kVarDumpNamesSize) {
      CheckResult("SendLVARSchunk", WriteVarDump(dump));
      dump.firstId = entry.id;
      std::memset(dump.names, 0, sizeof dump.names);
      length = 0;
    }
    std::memcpy(dump.names + length, entry.name, nameLength);
    length += nameLength;
    dump.names[length++] = ';';
  }
  if (length > 0) CheckResult("SendLVARrestChunk", WriteVarDump(dump));

  dump.firstId = records::kVarDumpClosingId;
  std::memset(dump.names, 0, sizeof dump.names);
  CheckResult("SendLVARS", WriteVarDump(dump));
  LogMessage("LVARHandler::SendLVARS End");
}
