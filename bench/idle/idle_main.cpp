// Idle: what the bridge costs while there is little or nothing to do. The
// module runs hosted in this process with an application connected (a client
// of simhost fed from memory); first nothing is monitored, then 10 variables
// at 1000 ms, each moving between any two reads. For each phase: the worker's
// CPU time, the process's, and every wake-up of the worker with its reason.
// A timed wake-up whose Update reads nothing is a wake-up beyond the reads
// that are due.
//
//   bench_idle [--channel] [--seconds 10] [--vars 10] [--interval 1000] [--no-frames]
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench_host.h"
#include "bench_panels.h"
#include "clock.h"
#include "wake_counter.h"
#include "lateness.h"
#include "memory_app.h"
#include "process_stats.h"
#include "process_usage.h"
#include "report.h"

namespace {

using namespace bench;
using namespace process_stats;

constexpr uint32_t kTableVariables = 100;

struct Snapshot {
  double at = 0.0;
  double workerCpuMs = 0.0;
  double processCpuMs = 0.0;
  WakeCounts wakes;
  uint64_t reads = 0;
  uint64_t published = 0;
};

Snapshot Take(HostedModule& module, BenchPanels& panels, MemoryApp& app) {
  Snapshot s;
  s.at = NowMs();
  s.workerCpuMs = ThreadCpuMs(module.Worker());
  s.processCpuMs = ProcessCpuMs();
  s.wakes = Wakes();
  s.reads = panels.Reads();
  s.published = app.VarDataCount();
  return s;
}

// Prints one phase; true when no timed wake-up came without a due read.
bool Report(const char* phase, const Snapshot& a, const Snapshot& b) {
  const double seconds = (b.at - a.at) / 1000.0;
  const WakeCounts w = b.wakes - a.wakes;
  Note("%s, %.1f s:", phase, seconds);
  Row("worker CPU time", b.workerCpuMs - a.workerCpuMs, "ms", 0);
  Row("worker CPU time per second", (b.workerCpuMs - a.workerCpuMs) / seconds, "ms/s", 2);
  Row("process CPU time per second (all of simhost too)", (b.processCpuMs - a.processCpuMs) / seconds, "ms/s", 1);
  Row("wake-ups by a message (Process event)", static_cast<double>(w.messages), "", 0);
  Row("wake-ups by a time-out (Update runs)", static_cast<double>(w.timedOut), "", 0);
  Row("  of which read nothing (nothing due)", static_cast<double>(w.emptyPasses), "", 0);
  Row("waits with time-out 0 (no sleep)", static_cast<double>(w.polls), "", 0);
  Row("variable reads", static_cast<double>(b.reads - a.reads), "", 0);
  Row("VarData published", static_cast<double>(b.published - a.published), "", 0);
  return w.emptyPasses == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args(argc, argv);
  const bool channel = args.Has("--channel");
  const DWORD seconds = static_cast<DWORD>(args.Number("--seconds", 10));
  const uint32_t monitored = static_cast<uint32_t>(args.Number("--vars", 10));
  const double interval = args.Number("--interval", 1000);

  Heading(std::string("Idle: the bridge with little to do, ") + (channel ? "in-process channel" : "pipe"));
  BenchPanels panels(kTableVariables, BenchPanels::Values::kReadTime);
  BenchHost host;
  HostSettings settings;
  settings.channel = channel;
  settings.frameClock = !args.Has("--no-frames");
  HostedModule module;
  if (!StartHostAndModule(host, module, settings, panels.Table(), &panels.ReadCounter())) return 2;

  LatenessTracker tracker(kTableVariables, interval);
  MemoryApp app(host.Sim().Core());
  TrackVarData(app, tracker);
  if (!ConnectApplication(app, kTableVariables)) return 2;
  Note(settings.frameClock ? "frame clock running: the aircraft title arrives once a second as a message"
                            : "frame clock stopped: no title messages");
  Sleep(1000);

  Snapshot a = Take(module, panels, app);
  Sleep(seconds * 1000);
  Snapshot b = Take(module, panels, app);
  bool quietA = Report("nothing monitored", a, b);
  Goal("no timed wake-up with nothing monitored", quietA && (b.wakes - a.wakes).timedOut == 0);

  for (uint32_t id = 0; id < monitored; ++id) {
    app.Send(records::kCommandStartMonitoring, panels.Name(id).c_str(), interval);
  }
  const uint64_t first = app.VarDataCount();
  WaitUntil([&] { return app.VarDataCount() >= first + monitored; }, 5000);
  Sleep(1500);
  a = Take(module, panels, app);
  tracker.OpenWindow(a.at);
  Sleep(seconds * 1000);
  b = Take(module, panels, app);
  tracker.CloseWindow(b.at);
  char phase[96];
  std::snprintf(phase, sizeof phase, "%u variables at %.0f ms", monitored, interval);
  bool quietB = Report(phase, a, b);
  Note("reads due in the period: %.0f", monitored * (b.at - a.at) / interval);
  LatenessTracker::Result late = tracker.Results();
  std::printf("  %-44s median %.1f  p99 %.1f  max %.1f ms\n", "publication lateness (arrival - due)",
              late.publication.Percentile(0.5), late.publication.Percentile(0.99), late.publication.Max());
  Goal("no wake-ups beyond the reads that are due", quietB);

  app.Close();
  module.Stop();
  host.WaitUntilGone(kBridgeClientName);
  host.Stop();
  module.Unload();
  return 0;
}
