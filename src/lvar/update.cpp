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

  // While held, nothing is read: every entry that is changed or due is read
  // afresh in the first pass after the queue has drained, so what goes out
  // then is the panel's latest value.
  size_t count = 0, start = 0;
  if (connected && PublishingHeld()) {
    wait = kHoldPollMs;
  } else {
    count = registry.size();
    start = resumeIndex_ < count ? resumeIndex_ : 0;
    resumeIndex_ = 0;
  }
  for (size_t step = 0; step < count; ++step) {
    const size_t index = (start + step) % count;
    LVAREntry& entry = registry[index];
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
      if (connected && PublishingHeld()) {
        resumeIndex_ = index + 1;
        wait = kHoldPollMs;
        break;
      }
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

bool LVARHandler::PublishingHeld() {
  const uint32_t queued = QueuedRequestBytes();
  publishingHeld_ = publishingHeld_ ? queued > kHoldLowWaterBytes : queued >= kHoldHighWaterBytes;
  return publishingHeld_;
}
