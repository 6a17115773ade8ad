#include "soak_run.h"

#include <algorithm>
#include <cstdio>

#include "module_log.h"
#include "process_stats.h"
#include "soak_aircraft.h"

namespace soak {

namespace {

// DLLStop waits at most 1000 ms for the worker (whose close pauses fall within
// that wait); beyond that a loaded two-core machine may add its scheduling.
constexpr DWORD kDllStopBoundMs = 1250;

constexpr const char* kModeNames[] = {"channel", "pipe", "tcp"};
constexpr const char* kModeTitles[] = {"in-process channel (main window)", "pipe only (no window)",
                                       "TCP (no window, no default pipe)"};

}  // namespace

const char* ModeName(CycleMode mode) { return kModeNames[static_cast<int>(mode)]; }

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
  options.window = mode_ == CycleMode::kChannel;
  if (mode_ == CycleMode::kTcp) {
    options.pipeName = kTcpCycleRoguePipe;
    options.tcp6 = options.tcp4 = options.writeRegistry = true;
  }
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
  ++cyclesByMode_[static_cast<int>(mode_)];
  sampler_.SetCycle(cycles_);
  model_.Load(options.aircraft);
  std::printf("            cycle %u: %s, aircraft \"%s\" (%zu variables)\n", cycles_,
              kModeTitles[static_cast<int>(mode_)], options.aircraft.title.c_str(),
              options.aircraft.variables.size());
  const bool open = app_.Open(kConnectTimeoutMs);
  if (open) CheckModuleWay();
  cycleHandles_ = process_stats::OpenHandleValues();
  return open;
}

void Soak::CheckModuleWay() {
  std::string way = "no connection";
  for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; app_.Pump(20)) {
    for (const auto& session : host_.Core().Sessions()) {
      if (session->Name() != kBridgeClientName) continue;
      way = host_.OnChannel(session->Number()) ? "channel" : session->Transport();
    }
    if (way.rfind(ModeName(mode_), 0) == 0) {
      std::printf("            the module's connection: %s\n", way.c_str());
      return;
    }
  }
  failures_.Fail(std::string("the module's connection takes ") + way + ", not the " + ModeName(mode_));
}

void Soak::StopHost(bool quit) {
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
  host_.Stop(quit);
  if (!quit) ++stopsWithoutQuit_;
  const DWORD total = GetTickCount() - start;
  const DWORD stop = host_.LastDllStopMs();
  dllStopMs_.push_back(stop);
  std::printf("            %s DLLStop (%lu ms), FreeLibrary: simhost stopped in %lu ms\n",
              quit ? "quit," : "no quit,", static_cast<unsigned long>(stop), static_cast<unsigned long>(total));
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
    case EventKind::kRestart: {
      // Now and then the quit comes in a stalled frame: the simulator quits
      // and runs DLLStop only once that frame has ended.
      // And every fourth restart, from the second on, stops the add-ons with
      // the connection up.
      const DWORD stallMs = Between(random_, 0, 3) == 0 ? Between<DWORD>(random_, 300, 1500) : 0;
      const bool quit = restarts_++ % 4 != 1;
      const auto next = static_cast<CycleMode>((static_cast<int>(mode_) + 1) % static_cast<int>(CycleMode::kCount));
      Begin(kind, std::string("(next: ") + kModeTitles[static_cast<int>(next)] + ")" +
                      (stallMs > 0 ? ", the stop in a stall of " + std::to_string(stallMs) + " ms" : "") +
                      (quit ? "" : ", DLLStop without a quit message"));
      Checkpoint();
      if (stallMs > 0) {
        ++stallsByMode_[static_cast<int>(mode_)];
        host_.PauseReads(stallMs);
      }
      StopHost(quit);
      mode_ = next;
      StartHost();
      break;
    }
    case EventKind::kSettle:
      Settle();
      break;
    case EventKind::kCount:
      break;
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
  std::printf("\nsoak figures: seed %u, %.1f s, %u cycles (stalls) by way:", options_.seed, seconds, cycles_);
  for (int i = 0; i < static_cast<int>(CycleMode::kCount); ++i) {
    std::printf("%s %s %u (%u)", i == 0 ? "" : ",", kModeNames[i], cyclesByMode_[i], stallsByMode_[i]);
  }
  const simhost::ChannelStats channel = simhost::ChannelSnapshot();
  std::printf("; the channel's stalls held %llu requests and %llu messages\n",
              static_cast<unsigned long long>(channel[simhost::kSubmitHeld]),
              static_cast<unsigned long long>(channel[simhost::kDeliveryHeld]));
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

  // The first 10 s of the run and the first 5 s of each cycle are warm-up.
  const Curve memory = sampler_.PrivateBytes(10000, 5000);
  const Curve handles = sampler_.Handles(10000, 5000);
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
  // Fewer cycles than five leave the slopes to the noise of bursts, stalls
  // and the two kinds of cycle.
  const bool judged = memory.cycleMedians.size() >= 5;
  const bool withinJudged = options_.restartEverySeconds >= options_.shortestJudgedCycleSeconds;
  if (!judged) std::printf("(slopes not judged: fewer than 5 cycles)\n");
  if (judged && !withinJudged) std::printf("(slopes within cycles not judged: cycles shorter than %u s)\n",
                                           static_cast<unsigned>(options_.shortestJudgedCycleSeconds));
  if (judged && ((withinJudged && memory.withinCycles.Rises(options_.maxPrivateBytesSlope)) ||
                 memory.acrossCycles.Rises(options_.maxPrivateBytesSlope))) {
    failures_.Fail("private bytes grow after the warm-up: " + Mebibytes(memory.withinCycles.perMinute) +
                   "/min within cycles, " + Mebibytes(memory.acrossCycles.perMinute) + "/min across cycles");
  }
  if (judged && handles.acrossCycles.Rises(options_.maxHandlesSlope)) {
    failures_.Fail("handles grow across cycles by " + Number(handles.acrossCycles.perMinute) + " a minute");
  }

  std::vector<DWORD> stops = dllStopMs_;
  std::sort(stops.begin(), stops.end());
  if (!stops.empty()) {
    std::printf("DLLStop: %zu stops (%u without a quit message), max %lu ms, median %lu ms\n", stops.size(),
                static_cast<unsigned>(stopsWithoutQuit_), static_cast<unsigned long>(stops.back()),
                static_cast<unsigned long>(stops[stops.size() / 2]));
  }
  std::printf("result: %s (%zu failures)\n", failures_.Count() == 0 ? "every invariant held" : "FAILED",
              failures_.Count());
  std::fflush(stdout);
}

}  // namespace soak
