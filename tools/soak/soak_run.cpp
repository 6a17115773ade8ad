#include "soak_run.h"

#include <algorithm>
#include <cstdio>

#include "module_log.h"
#include "process_stats.h"
#include "rogue_client.h"
#include "soak_aircraft.h"

namespace soak {

namespace {

// DLLStop waits at most 1000 ms for the worker (whose close pauses fall within
// that wait); beyond that a loaded two-core machine may add its scheduling.
constexpr DWORD kDllStopBoundMs = 1250;
constexpr DWORD kConnectTimeoutMs = 15000;
constexpr DWORD kTitleTimeoutMs = 10000;
constexpr char kBridgeClientName[] = "TAVO.quin.Bridge";
constexpr uint32_t kIntervals[] = {33, 50, 100, 250, 500, 1000, 2000};
constexpr uint32_t kLongestInterval = 2000;
// How long after a value's write its report may take beyond the interval.
constexpr DWORD kReportSlackMs = 1500;

template <typename T>
T Between(std::mt19937& random, T low, T high) {
  return std::uniform_int_distribution<T>(low, high)(random);
}

}  // namespace

Soak::Soak(const SoakOptions& options)
    : options_(options),
      random_(options.seed),
      failures_(options.seed),
      app_("A", 0, 1, model_, failures_, figures_),
      second_("B", 1, 2, model_, failures_, figures_),
      log_(failures_),
      mix_(random_) {
  failures_.SetStrict(options.strict);
}

void Soak::Begin(EventKind kind, const std::string& details) {
  ++eventNumber_;
  mix_.Count(kind);
  const double t = (GetTickCount() - startTick_) / 1000.0;
  const std::string event = "#" + std::to_string(eventNumber_) + " " + KindName(kind) +
                            (details.empty() ? "" : " " + details);
  std::printf("[%9.3f s] %s\n", t, event.c_str());
  std::fflush(stdout);
  char at[32];
  std::snprintf(at, sizeof at, " (at %.3f s)", t);
  failures_.SetLastEvent(event + at);
}

bool Soak::StartHost() {
  simhost::SimHostOptions options;
  options.tcp6 = false;
  options.tcp4 = false;
  options.haveAircraft = true;
  options.aircraft = MakeAircraft(++aircraftIndex_, random_);
  options.addonPath = options_.addonPath;
  options.window = window_;
  options.logSink = [](const std::string&) {};
  log_.Restart();
  std::string error;
  if (!host_.Start(options, &error)) {
    failures_.Fail("simhost does not start: " + error);
    return false;
  }
  hostUp_ = true;
  titleEveryFrame_ = false;
  ++cycles_;
  if (window_) ++cyclesInProcess_;
  sampler_.SetCycle(cycles_);
  model_.Load(options.aircraft);
  std::printf("            cycle %u: %s, aircraft \"%s\" (%zu variables)\n", cycles_,
              window_ ? "in-process channel (main window)" : "pipe only (no window)", options.aircraft.title.c_str(),
              options.aircraft.variables.size());
  const bool open = app_.Open(kConnectTimeoutMs);
  cycleHandles_ = process_stats::OpenHandleValues();
  return open;
}

void Soak::StopHost() {
  if (!hostUp_) return;
  sampler_.SetCycle(0);
  std::string added;
  size_t left = 0;
  for (const auto& kind : process_stats::DescribeNewHandles(cycleHandles_, process_stats::OpenHandleValues())) {
    added += " " + kind.first + " " + std::to_string(kind.second);
    left += kind.second;
  }
  std::printf("            handles opened in this cycle and still open:%s\n", added.empty() ? " none" : added.c_str());
  if (app_.IsOpen() && left > options_.maxHandlesLeftPerCycle) {
    failures_.Fail("the cycle left " + std::to_string(left) + " handles open:" + added);
  }
  app_.Close();
  second_.Close();
  const DWORD start = GetTickCount();
  host_.Stop();
  const DWORD total = GetTickCount() - start;
  const DWORD stop = host_.LastDllStopMs();
  dllStopMs_.push_back(stop);
  std::printf("            quit, DLLStop (%lu ms), FreeLibrary: simhost stopped in %lu ms\n",
              static_cast<unsigned long>(stop), static_cast<unsigned long>(total));
  if (stop > kDllStopBoundMs) {
    failures_.Fail("DLLStop took " + std::to_string(stop) + " ms (bound " + std::to_string(kDllStopBoundMs) + " ms)");
  }
  log_.Poll();
  hostUp_ = false;
  // The module's log of a cycle with failures stays, for the report.
  if (failures_.Count() > failuresBeforeCycle_) {
    const std::string kept = "bridge-log-cycle-" + std::to_string(cycles_) + ".log";
    if (CopyFileA(module_log::Path().c_str(), kept.c_str(), FALSE)) {
      std::printf("            the module's log of this cycle is kept in %s\n", kept.c_str());
    }
  }
  failuresBeforeCycle_ = failures_.Count();
}

void Soak::Checkpoint(DWORD timeoutMs) {
  if (app_.IsOpen()) app_.Checkpoint(timeoutMs);
}

std::string Soak::RandomName(bool allowUnknown) {
  if (allowUnknown && Between(random_, 0, 9) == 0) return app_.UnknownName();
  const std::vector<std::string>& names = model_.Names();
  return names[Between<size_t>(random_, 0, names.size() - 1)];
}

std::string Soak::RandomConstant() {
  for (;;) {
    std::string name = RandomName(false);
    if (!model_.IsRamp(name)) return name;
  }
}

// Values that a float would not hold exactly.
double Soak::NewValue() { return Between<int64_t>(random_, 0, int64_t(1) << 40) / 1024.0; }

void Soak::Execute(EventKind kind) {
  if (!app_.IsOpen() && !app_.Open(kConnectTimeoutMs)) return;
  switch (kind) {
    case EventKind::kStartMonitoring:
      StartMonitoring();
      break;
    case EventKind::kStopMonitoring:
      StopMonitoring();
      break;
    case EventKind::kSetAndRead:
      SetAndRead();
      break;
    case EventKind::kPanelWrite:
      PanelWrite();
      break;
    case EventKind::kBurst:
      Burst(Between(random_, 100, 600));
      break;
    case EventKind::kRescan:
      Rescan();
      break;
    case EventKind::kTitle:
      Begin(kind, "");
      app_.RequestTitle();
      Checkpoint();
      break;
    case EventKind::kAircraftChange:
      AircraftChange();
      break;
    case EventKind::kTakeover:
      Takeover();
      break;
    case EventKind::kRogue:
      Rogue();
      break;
    case EventKind::kMenuToggle:
      MenuToggle();
      break;
    case EventKind::kStall:
      Stall();
      break;
    case EventKind::kRestart:
      Begin(kind, window_ ? "(next: the pipe only)" : "(next: the in-process channel)");
      Checkpoint();
      StopHost();
      window_ = !window_;
      StartHost();
      break;
    case EventKind::kSettle:
      Settle();
      break;
    case EventKind::kCount:
      break;
  }
}

void Soak::StartMonitoring() {
  std::vector<std::pair<std::string, uint32_t>> picks(Between(random_, 1, 5));
  std::string details;
  for (auto& pick : picks) {
    pick.first = RandomName(true);
    pick.second = kIntervals[Between<size_t>(random_, 0, sizeof kIntervals / sizeof kIntervals[0] - 1)];
    details += pick.first + "@" + std::to_string(pick.second) + " ";
  }
  Begin(EventKind::kStartMonitoring, details);
  for (const auto& pick : picks) app_.StartMonitoring(pick.first, pick.second);
  Checkpoint();
}

void Soak::StopMonitoring() {
  std::vector<std::string> monitored = model_.Monitored();
  std::vector<std::string> picks(Between(random_, 1, 3));
  std::string details;
  for (std::string& pick : picks) {
    if (monitored.empty() || Between(random_, 0, 6) == 0) {
      pick = RandomName(true);
    } else {
      pick = monitored[Between<size_t>(random_, 0, monitored.size() - 1)];
    }
    details += pick + " ";
  }
  Begin(EventKind::kStopMonitoring, details);
  for (const std::string& pick : picks) app_.StopMonitoring(pick);
  Checkpoint();
}

void Soak::SetAndRead() {
  std::vector<std::pair<std::string, double>> picks(Between(random_, 1, 5));
  std::string details;
  for (auto& pick : picks) {
    pick.first = RandomConstant();
    pick.second = NewValue();
    details += pick.first + "=" + Number(pick.second) + " ";
  }
  Begin(EventKind::kSetAndRead, details);
  for (const auto& pick : picks) {
    app_.SetValue(pick.first, pick.second);
    app_.ForceUpdate(pick.first);
  }
  Checkpoint();
}

void Soak::PanelWrite() {
  std::vector<std::string> candidates;
  for (const std::string& name : model_.Monitored()) {
    if (!model_.IsRamp(name)) candidates.push_back(name);
  }
  std::vector<std::pair<std::string, double>> picks(Between(random_, 1, 5));
  std::string details;
  for (auto& pick : picks) {
    pick.first = candidates.empty() ? RandomConstant() : candidates[Between<size_t>(random_, 0, candidates.size() - 1)];
    pick.second = NewValue();
    details += pick.first + "=" + Number(pick.second) + " ";
  }
  Begin(EventKind::kPanelWrite, details);
  for (const auto& pick : picks) {
    // The model knows the value before any report of it can arrive.
    model_.Write(pick.first, pick.second);
    if (!host_.Aircraft().Set(pick.first, pick.second)) failures_.Fail("the panel has no " + pick.first);
  }
}

void Soak::Burst(int count) {
  Begin(EventKind::kBurst, std::to_string(count) + " requests");
  for (int i = 0; i < count; ++i) {
    const int r = Between(random_, 0, 99);
    if (r < 35) {
      app_.ForceUpdate(RandomName(false));
    } else if (r < 60) {
      const std::string name = RandomConstant();
      app_.SetValue(name, NewValue());
      app_.ForceUpdate(name);
      ++i;
    } else if (r < 68) {
      app_.RequestTitle();
    } else if (r < 76) {
      app_.StartMonitoring(app_.UnknownName(), 100);
    } else if (r < 84) {
      app_.StopMonitoring(app_.UnknownName());
    } else if (r < 92) {
      app_.Heartbeat();
    } else {
      app_.StartMonitoring(RandomName(false), kIntervals[Between<size_t>(random_, 0, 6)]);
    }
  }
  Checkpoint(60000);
}

void Soak::Rescan() {
  const bool rebuild = Between(random_, 0, 1) == 1;
  Begin(EventKind::kRescan, rebuild ? "rebuild (command 0)" : "list (command 1)");
  if (rebuild) {
    app_.Rescan();
  } else {
    app_.RequestList();
  }
  Checkpoint();
}

void Soak::AircraftChange() {
  const simhost::AircraftDescription aircraft = MakeAircraft(++aircraftIndex_, random_);
  Begin(EventKind::kAircraftChange,
        "to \"" + aircraft.title + "\" (" + std::to_string(aircraft.variables.size()) + " variables)");
  model_.Load(aircraft);
  const DWORD start = GetTickCount();
  app_.AwaitTitle(aircraft.title);
  host_.ChangeAircraft(aircraft);
  if (!app_.WaitForTitle(kTitleTimeoutMs)) {
    failures_.Fail("no title event within " + std::to_string(kTitleTimeoutMs) + " ms of the aircraft change");
  } else {
    std::printf("            title event after %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));
  }
  Checkpoint();
}

void Soak::Takeover() {
  Begin(EventKind::kTakeover, "a second application, peer id 2, then the first connects again");
  if (!second_.Open(kConnectTimeoutMs)) return;
  const int reads = Between(random_, 1, 4);
  for (int i = 0; i < reads; ++i) second_.ForceUpdate(RandomConstant());
  second_.RequestTitle();
  second_.Checkpoint(30000);
  second_.Close();
  app_.Reconnect(kConnectTimeoutMs);
  host_.ConnectionCount();  // joins the connections that have ended
}

void Soak::Rogue() {
  Begin(EventKind::kRogue, "");
  const std::string what = RunRogue(random_, host_.PipePath());
  std::printf("            %s\n", what.c_str());
  failures_.SetLastEvent(failures_.LastEvent() + ": " + what);
  Checkpoint();
  host_.ConnectionCount();  // joins the connections that have ended
}

bool Soak::ChooseMenu(const std::string& item, const std::string& next) {
  auto bridgeOffers = [this](const std::string& path) {
    for (const auto& session : host_.Core().Sessions()) {
      simhost::ClientMenu::Entry entry;
      if (session->Name() == kBridgeClientName && session->FindMenuItem(path, &entry)) return true;
    }
    return false;
  };
  const DWORD start = GetTickCount();
  while (!host_.Core().ChooseMenuItem("TAVO.quin/" + item)) {
    if (GetTickCount() - start > 5000) {
      failures_.Fail("the bridge's menu has no \"" + item + "\"");
      return false;
    }
    app_.Pump(10);
  }
  // The bridge has acted once its menu offers the other item.
  while (!bridgeOffers("TAVO.quin/" + next)) {
    if (GetTickCount() - start > 5000) {
      failures_.Fail("the bridge's menu does not offer \"" + next + "\" 5 s after \"" + item + "\"");
      return false;
    }
    app_.Pump(10);
  }
  return true;
}

void Soak::MenuToggle() {
  const bool changeAircraft = Between(random_, 0, 2) == 0;
  const DWORD disabledMs = Between<DWORD>(random_, 800, 2000);
  Begin(EventKind::kMenuToggle, "disabled for " + std::to_string(disabledMs) + " ms" +
                                    (changeAircraft ? ", with an aircraft change meanwhile" : ""));
  if (!ChooseMenu("Disable LVAR Access", "Enable LVAR Access")) return;
  model_.EndAllMonitoring();
  app_.SendUnanswered(records::kCommandSendAircraftName, std::string());
  app_.SendUnanswered(records::kCommandStopMonitoring, app_.UnknownName());
  app_.SendUnanswered(records::kCommandStartMonitoring, app_.UnknownName());
  simhost::AircraftDescription aircraft;
  if (changeAircraft) {
    aircraft = MakeAircraft(++aircraftIndex_, random_);
    model_.Load(aircraft);
    host_.ChangeAircraft(aircraft);
  }
  app_.Pump(disabledMs);
  if (size_t forbidden = app_.TakeForbiddenAnswers()) {
    failures_.Fail(std::to_string(forbidden) + " requests answered while LVAR access was disabled");
  }
  // The title event may come while the menu is still being watched.
  if (changeAircraft) app_.AwaitTitle(aircraft.title);
  if (!ChooseMenu("Enable LVAR Access", "Disable LVAR Access")) return;
  titleEveryFrame_ = true;  // the bridge asks for the title at every frame from now on
  model_.EndAllMonitoring();
  if (changeAircraft && !app_.WaitForTitle(kTitleTimeoutMs)) {
    failures_.Fail("no title event within " + std::to_string(kTitleTimeoutMs) +
                   " ms of enabling access after an aircraft change");
  }
  Checkpoint();
}

void Soak::Stall() {
  const DWORD ms = Between<DWORD>(random_, 300, 3000);
  const int pairs = Between(random_, 50, 300);
  Begin(EventKind::kStall, "simhost reads nothing for " + std::to_string(ms) + " ms; " + std::to_string(pairs) +
                               " writes and reads meanwhile");
  host_.PauseReads(ms);
  const DWORD start = GetTickCount();
  // The panel moves under monitored constants while requests set and read
  // others: a panel write between a request's set and its read would change
  // the value the read must give.
  std::vector<std::string> moving;
  for (const std::string& name : model_.Monitored()) {
    if (!model_.IsRamp(name)) moving.push_back(name);
  }
  for (int i = 0; i < pairs; ++i) {
    const std::string name = RandomConstant();
    if (std::find(moving.begin(), moving.end(), name) == moving.end()) {
      app_.SetValue(name, NewValue());
      app_.ForceUpdate(name);
    }
    if (!moving.empty()) {
      const std::string& moved = moving[Between<size_t>(random_, 0, moving.size() - 1)];
      const double value = NewValue();
      model_.Write(moved, value);
      host_.Aircraft().Set(moved, value);
    }
  }
  Checkpoint(ms + 60000);
  std::printf("            all answered %lu ms after the stall began\n",
              static_cast<unsigned long>(GetTickCount() - start));
}

void Soak::Settle() {
  const std::vector<std::string> monitored = model_.Monitored();
  Begin(EventKind::kSettle, std::to_string(monitored.size()) + " monitored");
  if (monitored.empty()) return;
  app_.Pump(kLongestInterval + kReportSlackMs + 500);
  // The worker's wait for its next pass starts afresh at every message, the
  // aircraft title's included: a title that comes more often than the
  // shortest interval (every second; every frame once access has been
  // enabled again) holds every pass off while the applications are silent.
  const uint32_t titlePeriodMs = titleEveryFrame_ ? 1000 / 30 + 1 : 1000;
  const bool starved = model_.SmallestInterval() >= titlePeriodMs;
  for (const std::string& name : model_.Unreported(GetTickCount(), kReportSlackMs)) {
    const std::string what = "the latest value of monitored " + name + " (" + Number(model_.Current(name)) +
                             ") was never reported";
    if (starved) {
      failures_.Finding("no update pass while the title comes more often than the shortest interval",
                        what + " (shortest interval " + std::to_string(model_.SmallestInterval()) +
                            " ms, title every " + std::to_string(titlePeriodMs) + " ms)");
    } else {
      failures_.Fail(what);
    }
  }
}

int Soak::Run() {
  startTick_ = GetTickCount();
  lastProgress_ = startTick_;
  std::printf("soak: seed %u, %u s, a restart every %u s\n", options_.seed, options_.seconds,
              options_.restartEverySeconds);
  sampler_.Start(1000);
  if (StartHost()) {
    DWORD lastLogPoll = GetTickCount();
    while (GetTickCount() - startTick_ < options_.seconds * 1000u) {
      Execute(mix_.Next(GetTickCount() - startTick_, options_.restartEverySeconds * 1000u));
      if (!hostUp_) break;
      app_.Pump(Between(random_, 0, 150));
      if (GetTickCount() - lastLogPoll >= 3000) {
        log_.Poll();
        lastLogPoll = GetTickCount();
      }
      lastProgress_ = GetTickCount();
    }
    if (hostUp_) {
      Settle();
      if (app_.IsOpen()) Checkpoint();
    }
  }
  failures_.SetLastEvent("(the end of the run)");
  sampler_.Stop();
  StopHost();
  PrintFigures((GetTickCount() - startTick_) / 1000.0);
  return failures_.Count() == 0 ? 0 : 1;
}

void Soak::PrintFigures(double seconds) {
  std::printf("\nsoak figures: seed %u, %.1f s, %u cycles (%u on the in-process channel, %u on the pipe only)\n",
              options_.seed, seconds, cycles_, cyclesInProcess_, cycles_ - cyclesInProcess_);
  std::printf("events:");
  for (int i = 0; i < static_cast<int>(EventKind::kCount); ++i) {
    std::printf(" %s %llu", KindName(static_cast<EventKind>(i)),
                static_cast<unsigned long long>(mix_.CountOf(static_cast<EventKind>(i))));
  }
  std::printf(" (%llu in all)\n", static_cast<unsigned long long>(eventNumber_));
  std::printf("requests: %llu sent, %llu answers that came in order (markers included)\n",
              static_cast<unsigned long long>(figures_.requestsSent),
              static_cast<unsigned long long>(figures_.requestsAnswered));
  std::printf("values checked against the panel: %llu (%llu VarData); unsolicited events: %llu\n",
              static_cast<unsigned long long>(figures_.valuesChecked),
              static_cast<unsigned long long>(figures_.varData),
              static_cast<unsigned long long>(figures_.unsolicitedEvents));
  for (const auto& finding : failures_.Findings()) {
    std::printf("finding \"%s\": %llu times\n", finding.first.c_str(),
                static_cast<unsigned long long>(finding.second));
  }
  std::printf("log: %llu lines checked", static_cast<unsigned long long>(log_.Lines()));
  for (const auto& notable : log_.Notable()) {
    std::printf("; \"%s\" %llu", notable.first.c_str(), static_cast<unsigned long long>(notable.second));
  }
  std::printf("\n");

  // The first 15 s of the run and the first 5 s of each cycle are warm-up.
  const Curve memory = sampler_.PrivateBytes(15000, 5000);
  const Curve handles = sampler_.Handles(15000, 5000);
  auto medians = [](const Curve& curve, double unit) {
    std::string text;
    for (double median : curve.cycleMedians) {
      char item[32];
      std::snprintf(item, sizeof item, "%s%.1f", text.empty() ? "" : " ", median / unit);
      text += item;
    }
    return text;
  };
  const double kMiB = 1024.0 * 1024.0;
  std::printf("private bytes after the warm-up: start %s, end %s, low %s, high %s; slope within cycles %s/min "
              "(standard error %s, %zu samples), across cycles %s/min (standard error %s); cycle medians (MiB): %s\n",
              Mebibytes(memory.start).c_str(), Mebibytes(memory.end).c_str(), Mebibytes(memory.low).c_str(),
              Mebibytes(memory.high).c_str(), Mebibytes(memory.withinCycles.perMinute).c_str(),
              Mebibytes(memory.withinCycles.error).c_str(), memory.withinCycles.points,
              Mebibytes(memory.acrossCycles.perMinute).c_str(), Mebibytes(memory.acrossCycles.error).c_str(),
              medians(memory, kMiB).c_str());
  std::printf("handles after the warm-up: start %.0f, end %.0f, low %.0f, high %.0f; slope within cycles %.1f/min "
              "(standard error %.1f), across cycles %.1f/min (standard error %.1f); cycle medians: %s\n",
              handles.start, handles.end, handles.low, handles.high, handles.withinCycles.perMinute,
              handles.withinCycles.error, handles.acrossCycles.perMinute, handles.acrossCycles.error,
              medians(handles, 1.0).c_str());
  std::printf("curve (seconds: private bytes/handles): %s\n", sampler_.Summary(11).c_str());
  if (memory.withinCycles.Rises(options_.maxPrivateBytesSlope) ||
      memory.acrossCycles.Rises(options_.maxPrivateBytesSlope)) {
    failures_.Fail("private bytes grow after the warm-up: " + Mebibytes(memory.withinCycles.perMinute) +
                   "/min within cycles, " + Mebibytes(memory.acrossCycles.perMinute) + "/min across cycles");
  }
  if (handles.acrossCycles.Rises(options_.maxHandlesSlope)) {
    failures_.Fail("handles grow across cycles by " + Number(handles.acrossCycles.perMinute) + " a minute");
  }

  std::vector<DWORD> stops = dllStopMs_;
  std::sort(stops.begin(), stops.end());
  if (!stops.empty()) {
    std::printf("DLLStop: %zu stops, max %lu ms, median %lu ms\n", stops.size(),
                static_cast<unsigned long>(stops.back()), static_cast<unsigned long>(stops[stops.size() / 2]));
  }
  std::printf("result: %s (%zu failures)\n", failures_.Count() == 0 ? "every invariant held" : "FAILED",
              failures_.Count());
  std::fflush(stdout);
}

}  // namespace soak
