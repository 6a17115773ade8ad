// Update: the periodic pass of the worker's wait loop.
#include "lvar/bridge_services.h"
#include "lvar/lvar_handler.h"
#include "lvar/panel_services.h"

uint32_t LVARHandler::Update() {
  const uint32_t now = CurrentTick();
  uint32_t wait = kNoTimeout;
  int sent = 0;

  if (!panels::Available()) {
    LogMessage("NO PANELS, no fish and no chips!");
    return kNoTimeout;
  }

  // lastHeartbeatTick stays as it is: every later pass repeats the reset until
  // the application sends a request.
  const uint32_t silence = now - lastHeartbeatTick;
  if (silence > kHeartbeatTimeoutMs) {
    LogMessage("No heartbeat for %d from application. resetting.", static_cast<int>(silence));
    for (auto& entry : registry) entry->monitored = false;
    connected = false;
    peerId = 0xFFFFFFFF;
    return kNoTimeout;
  }

  // The stop that DLLStop raises is read after every due read. The Stop event
  // itself costs a round trip to the wineserver under Wine (about 40 us, against
  // nanoseconds for a panel read), so it is tested after the pass's first due
  // read and then only once the tick has moved.
  bool eventTested = false;
  uint32_t eventTestTick = 0;

  for (auto& owned : registry) {
    LVAREntry& entry = *owned;
    if (entry.monitored && (entry.changed || now - entry.lastUpdateTick >= entry.intervalMs)) {
      // A failed MJC read adds nothing to the wait; the entry is next looked
      // at in the following pass.
      if (!ReadEntry(entry)) continue;
      const uint32_t readTick = CurrentTick();
      const bool testEvent = !eventTested || readTick != eventTestTick;
      if (testEvent) {
        eventTested = true;
        eventTestTick = readTick;
      }
      if (StopRequested(testEvent)) return kNoTimeout;
    }
    if (entry.changed) {
      LogMessage("%s (%d) = %f", entry.name, static_cast<int>(entry.id), entry.value);
      ReportEntry(entry, connected);
      ++sent;
    }
    if (entry.monitored) {
      const uint32_t t = CurrentTick();
      uint32_t remaining = entry.lastUpdateTick + entry.intervalMs - t;
      // Overdue (the difference wrapped past the interval): wait a full interval.
      if (remaining > entry.intervalMs) remaining = entry.intervalMs;
      if (remaining < wait) wait = remaining;
    }
  }

  if (now - lastScanTick > kRescanPeriodMs) {
    LogMessage("Check for new LVARS");
    ScanLVARS(true, true);
    lastScanTick = now;
  }
  if (sent > 0) LogMessage("LVARHandler::Update::%d", sent);
  return wait;
}
