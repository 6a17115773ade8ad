// The application's monitoring requests: start, stop, set a value, force a
// report; and the read of one entry that Update and ForceUpdate share.
#include <cmath>
#include <memory>

#include "lvar/bridge_services.h"
#include "lvar/client_data.h"
#include "lvar/lvar_handler.h"
#include "lvar/panel_services.h"
#include "lvar/truncate.h"
#include "lvar/variable_names.h"

bool LVARHandler::ReadEntry(LVAREntry& entry) {
  if (entry.mjcCode != 0) return ReadMJCValue(entry);
  double v = panels::ReadVariableValue(static_cast<int32_t>(entry.id));
  // A NaN distance is never at least the threshold: a NaN is no change.
  if (std::fabs(entry.lastSentValue - v) >= kChangeThreshold) entry.changed = true;
  entry.value = v;
  entry.lastUpdateTick = CurrentTick();
  return true;
}

void LVARHandler::ReportEntry(LVAREntry& entry, bool write) {
  records::VarData record = records::MakeVarData(entry.value, entry.mjcCode != 0, entry.name);
  entry.lastSentValue = entry.value;
  entry.changed = false;
  if (write) WriteVarData(record);  // the result is not reported
}

void LVARHandler::Heartbeat() { lastHeartbeatTick = CurrentTick(); }

void LVARHandler::StartMonitoring(const records::HostRequest& request) {
  if (!connected) return;
  const char* name = request.name;
  // The handshake variables themselves are never monitored.
  if (variable_names::HasMjcPrefix(name)) {
    SendToClient(records::kEventRefused, records::kRefusedReservedName, "%s", name);
    LogMessage("LVARHandler::StartMonitoring %s : not supported", name);
    return;
  }
  const double requested = request.value;
  if (LVAREntry* entry = registry.Find(name)) {
    entry->monitored = true;
    // A value of 0 or less keeps the interval the entry has.
    if (requested > 0.0) entry->intervalMs = TruncateToInterval(requested);
    LogMessage("LVARHandler::StartMonitoring %s (%d): success", name, TruncateToInt32(requested));
    ForceUpdate(request);
    return;
  }
  if (request.param != 0) {
    auto entry = std::make_unique<LVAREntry>();
    entry->id = request.param;
    entry->mjcCode = request.param;
    entry->SetName(name);
    entry->monitored = true;
    entry->intervalMs = requested > 0.0 ? TruncateToInterval(requested) : kDefaultIntervalMs;
    registry.Append(std::move(entry));
    LogMessage("LVARHandler::StartMonitoring %s (%d) : success", name, TruncateToInt32(requested));
    ForceUpdate(request);
    return;
  }
  if (name[0] == '\0') return;
  SendToClient(records::kEventRefused, records::kRefusedNotFound, "%s", name);
  LogMessage("LVARHandler::StartMonitoring %s : not found", name);
}

void LVARHandler::StopMonitoring(const records::HostRequest& request) {
  const char* name = request.name;
  if (LVAREntry* entry = registry.Find(name)) {
    entry->monitored = false;
    LogMessage("LVARHandler::StopMonitoring %s : success", name);
    return;
  }
  SendToClient(records::kEventRefused, records::kRefusedNotMonitored, "%s", name);
  LogMessage("LVARHandler::StopMonitoring %s : not found", name);
}

void LVARHandler::SetValue(const records::HostRequest& request) {
  if (!connected) return;
  if (request.param != 0) {
    WriteMJCValue(request);
    return;
  }
  const char* name = request.name;
  const double value = request.value;
  LVAREntry* entry = registry.Find(name);
  if (entry == nullptr) {
    LogMessage("LVARHandler::SetValue %s = %f : UNKNOWN LVAR", name, value);
    return;
  }
  // An MJC entry is written only through the handshake, with its code in param.
  if (entry->mjcCode != 0) return;
  panels::WriteVariableValue(static_cast<int32_t>(entry->id), value);
  LogMessage("LVARHandler::SetValue %s = %f : SUCCESS", name, value);
}

void LVARHandler::ForceUpdate(const records::HostRequest& request) {
  if (!connected) return;
  const char* name = request.name;
  LVAREntry* entry = registry.Find(name);
  if (entry == nullptr) {
    LogMessage("LVARHandler::ForceUpdate %s : not found", name);
    return;
  }
  // The report goes out whatever an MJC read gave, changed or not.
  ReadEntry(*entry);
  LogMessage("LVARHandler::ForceUpdate %s = %f : success", name, entry->value);
  ReportEntry(*entry, true);
}
