// Reading and writing MJC variables through the aircraft's handshake
// variables. Both handshakes block the worker, polling, for at most about
// 250 ms plus one pause.
#include <cmath>

#include "lvar/bridge_services.h"
#include "lvar/lvar_handler.h"
#include "lvar/panel_services.h"
#include "lvar/truncate.h"

namespace {

// Answers in MJC_VAR_READ_CODE and MJC_VAR_WRITE_CODE.
constexpr int32_t kMjcDone = 9991999;
constexpr int32_t kMjcDataNotFound = 9992999;
constexpr int32_t kMjcWriteIdle = 0;  // ends a write, not a read

constexpr uint32_t kMjcTimeoutMs = 250;
constexpr DWORD kMjcReadPollMs = 20;
constexpr DWORD kMjcWritePollMs = 10;
// Read time-outs in a row that a monitored entry tolerates.
constexpr uint32_t kMjcToleratedTimeouts = 3;

int32_t ReadCode(int32_t id) { return TruncateToInt32(panels::ReadVariableValue(id)); }

}  // namespace

bool LVARHandler::ReadMJCValue(LVAREntry& entry) {
  if (!panels::Available()) {
    LogMessage("NO PANELS, no fish and no chips!");
    return false;
  }
  const uint32_t t0 = CurrentTick();
  panels::WriteVariableValue(mjcReadCodeId, static_cast<double>(entry.mjcCode));
  int32_t answer = ReadCode(mjcReadCodeId);
  while (answer != kMjcDone) {
    if (answer == kMjcDataNotFound) {
      LogMessage("MJC: %s (%d) data not found!", entry.name, static_cast<int>(entry.mjcCode));
      entry.lastSentValue = entry.value;
      entry.monitored = false;
      entry.changed = false;
      return false;
    }
    if (CurrentTick() - t0 > kMjcTimeoutMs) {
      ++entry.mjcTimeouts;
      if (entry.mjcTimeouts > kMjcToleratedTimeouts) entry.monitored = false;
      LogMessage("MJC: %s (%d) Timeout (%d)!", entry.name, static_cast<int>(entry.mjcCode),
                 static_cast<int>(entry.mjcTimeouts));
      entry.lastSentValue = entry.value;
      entry.changed = false;
      return false;
    }
    Sleep(kMjcReadPollMs);
    answer = ReadCode(mjcReadCodeId);
  }

  entry.mjcTimeouts = 0;
  const double v = panels::ReadVariableValue(mjcReadValueId);
  if (std::fabs(entry.lastSentValue - v) >= kChangeThreshold) entry.changed = true;
  entry.value = v;
  entry.lastUpdateTick = CurrentTick();
  if (entry.changed) {
    LogMessage("MJC: %s update took %d new val %f", entry.name, static_cast<int>(CurrentTick() - t0), v);
  }
  return true;
}

void LVARHandler::WriteMJCValue(const records::HostRequest& request) {
  const char* name = request.name;
  const double value = request.value;
  const uint32_t code = request.param;
  if (mjcWriteValueId == -1) {
    LogMessage("LVARHandler::SetValue %s : NO MJC SUPPORT", name);
    SendToClient(records::kEventRefused, records::kRefusedNotMonitored, "%s", name);
    return;
  }
  // The value first, the code second: the code starts the aircraft's side.
  panels::WriteVariableValue(mjcWriteValueId, value);
  panels::WriteVariableValue(mjcWriteCodeId, static_cast<double>(code));

  const uint32_t t0 = CurrentTick();
  int32_t answer = ReadCode(mjcWriteCodeId);
  while (answer != kMjcDone && answer != kMjcWriteIdle) {
    if (answer == kMjcDataNotFound) {
      LogMessage("MJC: %s (%d) data not found!", name, static_cast<int>(code));
      return;
    }
    if (CurrentTick() - t0 > kMjcTimeoutMs) {
      LogMessage("MJC: %s (%d) Timeout writing value!", name, static_cast<int>(code));
      return;
    }
    Sleep(kMjcWritePollMs);
    answer = ReadCode(mjcWriteCodeId);
  }
  LogMessage("LVARHandler::SetValue %s = %f : SUCCESS", name, value);
}
