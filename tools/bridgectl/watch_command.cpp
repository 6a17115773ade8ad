// `watch`: monitoring variables and printing each report as it arrives.
#include <algorithm>
#include <vector>

#include "commands.h"
#include "console.h"
#include "lvar/records.h"
#include "output_format.h"
#include "watch_table.h"

namespace bridgectl {

namespace {

// The live table is drawn at most this often; reports in between only update it.
constexpr DWORD kRedrawPeriodMs = 100;

std::string NameOf(const records::VarData& record) {
  return std::string(record.name, records::TextLength(record.name, sizeof record.name));
}

std::string TextOf(const records::HostEvent& event) {
  return std::string(event.text, records::TextLength(event.text, sizeof event.text));
}

// Where the reports go: JSON lines, plain lines, or the live table.
class WatchOutput {
 public:
  WatchOutput(const Invocation& invocation, const std::vector<std::string>& names)
      : json_(invocation.json), table_(names) {
    for (const std::string& name : names) nameWidth_ = std::max(nameWidth_, name.size());
    live_ = !invocation.json && !invocation.plain && area_.Start(table_.LineCount());
  }

  void Value(const records::VarData& record) {
    const ClockTime time = Now();
    if (json_) {
      PrintLine(JsonVarData(time, record));
    } else if (live_) {
      table_.Update(NameOf(record), record.value, FormatTimeOfDay(time));
      dirty_ = true;
    } else {
      std::string name = NameOf(record);
      name.resize(std::max(name.size(), nameWidth_), ' ');
      PrintLine(FormatTimeOfDay(time) + "  " + name + "  " + FormatValue(record.value));
    }
  }

  void Event(const records::HostEvent& event) {
    const ClockTime time = Now();
    if (json_) {
      PrintLine(JsonEvent(time, event));
    } else if (live_) {
      if (event.code == records::kEventRefused) table_.Mark(TextOf(event), "(unknown)");
      Status(FormatTimeOfDay(time) + "  " + DescribeEvent(event));
    } else {
      PrintLine(FormatTimeOfDay(time) + "  " + DescribeEvent(event));
    }
  }

  void Status(const std::string& text) {
    table_.SetStatus(text);
    dirty_ = true;
  }

  // Draws the live table when it changed and the last drawing is old enough
  // (always with `force`). True when something is still waiting to be drawn.
  bool Flush(bool force) {
    if (!live_ || !dirty_) return false;
    const DWORD now = GetTickCount();
    if (!force && now - lastDraw_ < kRedrawPeriodMs) return true;
    area_.Draw(table_.Render());
    lastDraw_ = now;
    dirty_ = false;
    return false;
  }

  bool live() const { return live_; }

 private:
  bool json_;
  bool live_ = false;
  bool dirty_ = true;
  DWORD lastDraw_ = 0;
  size_t nameWidth_ = 0;
  WatchTable table_;
  ConsoleArea area_;
};

bool StartMonitoring(BridgeSession& session, const std::vector<WatchItem>& items, std::string* error) {
  for (const WatchItem& item : items) {
    if (!session.Send(records::kCommandStartMonitoring, item.name, 0, static_cast<double>(item.intervalMs), error)) {
      return false;
    }
  }
  return true;
}

// Ends the monitoring this watch started and waits until the bridge has
// served the requests, so that nothing is left monitored when bridgectl exits.
// The bridge reports names it no longer knows (after an aircraft change) with
// an event that nobody needs.
void StopMonitoring(BridgeSession& session, const std::vector<WatchItem>& items, uint32_t timeoutMs) {
  // Ctrl+C has done its part: the stop event stays set, and the answer to
  // these requests is still to be waited for.
  session.SetStopEvent(nullptr);
  std::string ignored;
  for (const WatchItem& item : items) {
    if (!session.Send(records::kCommandStopMonitoring, item.name, 0, 0.0, &ignored)) return;
  }
  session.Sync(nullptr, nullptr, timeoutMs, &ignored);
}

bool Watched(const std::vector<WatchItem>& items, const std::string& name) {
  for (const WatchItem& item : items) {
    if (SameName(item.name, name)) return true;
  }
  return false;
}

}  // namespace

int RunWatch(BridgeSession& session, const Invocation& invocation, std::string* error) {
  const std::vector<WatchItem>& items = invocation.watch;
  if (!StartMonitoring(session, items, error)) return kExitFailure;

  // StartMonitoring answers with the value at once, or refuses the name.
  std::vector<BridgeMessage> first;
  std::string title;
  if (!session.Sync(&first, &title, invocation.timeoutMs, error)) return kExitFailure;
  for (const BridgeMessage& message : first) {
    if (message.kind == MessageKind::kHostEvent && message.hostEvent.code == records::kEventRefused &&
        Watched(items, TextOf(message.hostEvent))) {
      StopMonitoring(session, items, invocation.timeoutMs);
      *error = RefusalMessage(message.hostEvent, false);
      return kExitFailure;
    }
  }

  std::vector<std::string> names;
  for (const WatchItem& item : items) names.push_back(item.name);
  WatchOutput output(invocation, names);
  output.Status("aircraft: " + title + "  (Ctrl+C stops)");
  uint32_t reports = 0;
  auto counted = [&] { return invocation.count != 0 && reports >= invocation.count; };
  for (const BridgeMessage& message : first) {
    if (message.kind == MessageKind::kVarData && Watched(items, NameOf(message.varData)) && !counted()) {
      output.Value(message.varData);
      ++reports;
    }
  }
  output.Flush(true);

  const DWORD start = GetTickCount();
  const DWORD durationMs = invocation.durationS > 0.0 ? static_cast<DWORD>(invocation.durationS * 1000.0) : 0;
  int status = kExitSuccess;
  while (!counted()) {
    uint32_t wait = kWaitForever;
    if (durationMs != 0) {
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= durationMs) break;
      wait = durationMs - elapsed;
    }
    if (output.Flush(false)) wait = std::min<uint32_t>(wait, kRedrawPeriodMs);

    BridgeMessage message;
    BridgeSession::Wait result = session.Next(&message, wait, error);
    if (result == BridgeSession::Wait::kStopped) break;
    if (result == BridgeSession::Wait::kEnded) {
      status = kExitFailure;
      break;
    }
    if (result != BridgeSession::Wait::kMessage) continue;

    if (message.kind == MessageKind::kVarData && Watched(items, NameOf(message.varData))) {
      output.Value(message.varData);
      ++reports;
    } else if (message.kind == MessageKind::kHostEvent) {
      const records::HostEvent& event = message.hostEvent;
      if (event.code == records::kEventConnectReply) continue;  // another application's Connect
      if (event.code == records::kEventAircraftTitle) {
        // Another application's `title` repeats the same title: no change.
        if (SameName(TextOf(event), title)) continue;
        title = TextOf(event);
        output.Event(event);
        // The bridge dropped every monitoring with the old aircraft.
        if (!StartMonitoring(session, items, error)) {
          status = kExitFailure;
          break;
        }
        continue;
      }
      if (event.code == records::kEventRefused && !Watched(items, TextOf(event))) continue;
      output.Event(event);
    }
  }
  output.Flush(true);
  if (status == kExitSuccess) StopMonitoring(session, items, invocation.timeoutMs);
  return status;
}

}  // namespace bridgectl
