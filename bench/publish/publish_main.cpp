// Publishing: N monitored variables, all moving, at one interval. The module
// runs hosted in this process over a panel table whose every read returns the
// time of the read, so each published value tells when the worker read it;
// the application is a client of simhost fed from memory, which sees each
// VarData the moment simhost takes it from the module. Figures: changes
// published per second against the reads due, the lateness of each
// publication against its due time (previous read + interval), the worker's
// CPU time per second and its wake-ups. The floors over the pipe: blocking
// writes of the same 304-byte requests between two threads, and overlapped
// writes chained by their completions as the client library's are.
//
//   bench_publish [--channel] [--vars 1000] [--interval 33] [--seconds 10] [--warmup 2]
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bench_host.h"
#include "bench_panels.h"
#include "clock.h"
#include "wake_counter.h"
#include "lateness.h"
#include "log_floor.h"
#include "memory_app.h"
#include "pipe_floor.h"
#include "process_stats.h"
#include "process_usage.h"
#include "report.h"
#include "simconnect/protocol.h"

namespace {

using namespace bench;
using namespace process_stats;

constexpr size_t kVarDataRequestSize = protocol::set_client_data::kFixedSize + records::kVarDataSize;  // 304
constexpr size_t kFloorMessages = 20000;

void LatenessRow(const char* label, const Histogram& h) {
  std::printf("  %-44s median %.2f  p99 %.2f  max %.2f ms\n", label, h.Percentile(0.5), h.Percentile(0.99), h.Max());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args(argc, argv);
  const bool channel = args.Has("--channel");
  const uint32_t count = static_cast<uint32_t>(args.Number("--vars", 1000));
  const double interval = args.Number("--interval", 33);
  const DWORD seconds = static_cast<DWORD>(args.Number("--seconds", 10));
  const DWORD warmup = static_cast<DWORD>(args.Number("--warmup", 2));

  char title[160];
  std::snprintf(title, sizeof title, "Publishing: %u variables at %.0f ms, all moving, %s", count, interval,
                channel ? "in-process channel" : "pipe");
  Heading(title);

  const double floorRate = PipeWriteRate(kVarDataRequestSize, kFloorMessages);
  const double chainRate = channel ? 0.0 : PipeChainedWriteRate(kVarDataRequestSize, kFloorMessages, true);
  const TickSteps ticks = MeasureTickSteps();
  const LogLineCost logLine = MeasureLogLine(10000);

  BenchPanels panels(count, BenchPanels::Values::kReadTime);
  BenchHost host;
  HostSettings settings;
  settings.channel = channel;
  HostedModule module;
  if (!StartHostAndModule(host, module, settings, panels.Table(), &panels.ReadCounter())) return 2;

  LatenessTracker tracker(count, interval);
  MemoryApp app(host.Sim().Core());
  TrackVarData(app, tracker);
  if (!ConnectApplication(app, count)) return 2;

  // Each StartMonitoring is answered at once by a report of the variable.
  const double startedAt = NowMs();
  const uint64_t before = app.VarDataCount();
  for (uint32_t id = 0; id < count; ++id) {
    app.Send(records::kCommandStartMonitoring, panels.Name(id).c_str(), interval);
  }
  bool answered = WaitUntil([&] { return app.VarDataCount() >= before + count; }, 60000);
  Note("%u StartMonitoring requests answered %s in %.0f ms", count, answered ? "" : "(NOT all)", NowMs() - startedAt);
  Sleep(warmup * 1000);

  const MemorySample memoryBefore = SampleMemory();
  const double cpuBefore = ThreadCpuMs(module.Worker());
  const double processBefore = ProcessCpuMs();
  const WakeCounts wakesBefore = Wakes();
  const uint64_t readsBefore = panels.Reads();
  double from = NowMs();
  tracker.OpenWindow(from);
  Sleep(seconds * 1000);
  double to = NowMs();
  tracker.CloseWindow(to);
  const uint64_t reads = panels.Reads() - readsBefore;
  const WakeCounts wakes = Wakes() - wakesBefore;
  const double cpu = ThreadCpuMs(module.Worker()) - cpuBefore;
  const double processCpu = ProcessCpuMs() - processBefore;
  const MemorySample memoryAfter = SampleMemory();
  const double windowS = (to - from) / 1000.0;

  LatenessTracker::Result result = tracker.Results();
  const double due = count * 1000.0 / interval;
  const double published = static_cast<double>(result.published) / windowS;
  Note("measured over %.1f s after %u s of warm-up", windowS, warmup);
  Row("reads due per second (N x 1000 / interval)", due, "/s", 0);
  Row("reads made per second", static_cast<double>(reads) / windowS, "/s", 0);
  Row("changes published per second", published, "/s", 0);
  Row("published / due", published / due, "", 3);
  LatenessRow("publication lateness (arrival - due)", result.publication);
  LatenessRow("read lateness (read - due)", result.read);
  LatenessRow("transit (arrival - read)", result.transit);
  std::printf("  %-44s average %.2f  largest %.2f ms\n", "GetTickCount step (the worker's clock)", ticks.average,
              ticks.largest);
  const double limit = 10.0;
  const uint64_t inTime = result.publication.CountAtOrBelow(limit);
  Row("published within interval + 10 ms", result.published ? 100.0 * inTime / result.published : 0.0, "%", 2);
  Row("worker CPU time per second", cpu / windowS, "ms/s", 1);
  // Every read finds the value moved, so each read is one change the worker
  // publishes (over the pipe some are still queued when the window ends).
  Row("worker CPU time per change (read and published)", reads ? 1000.0 * cpu / reads : 0.0, "us", 1);
  Row("  one flushed log line like the module's", logLine.lineUs, "us", 1);
  Row("  local time formatted afresh (once a second)", logLine.timestampUs, "us", 1);
  Row("process CPU time per second (simhost too)", processCpu / windowS, "ms/s", 1);
  Row("worker wake-ups per second: messages", wakes.messages / windowS, "/s", 1);
  Row("worker wake-ups per second: time-outs", wakes.timedOut / windowS, "/s", 1);
  Row("  of which read nothing (nothing due yet)", wakes.emptyPasses / windowS, "/s", 1);
  Row("worker waits with time-out 0 per second", wakes.polls / windowS, "/s", 1);
  Row("private bytes growth during the window",
      (static_cast<double>(memoryAfter.privateBytes) - static_cast<double>(memoryBefore.privateBytes)) / 1048576.0,
      "MiB", 1);
  if (!channel) {
    Row("floor: raw pipe, blocking 304-byte writes", floorRate, "/s", 0);
    RatioRow("published per second / raw pipe rate", published, floorRate);
    Row("raw pipe, 304-byte writes chained by completion", chainRate, "/s", 0);
    RatioRow("published per second / chained raw rate", published, chainRate);
  } else {
    Row("raw pipe, blocking 304-byte writes (for scale)", floorRate, "/s", 0);
  }
  if (channel) Note("%s", host.ChannelSummary().c_str());
  if (channel && count == 1000 && interval <= 33.5) {
    Goal("every change published within interval + 10 ms", result.published > 0 && inTime == result.published);
  }

  const double stopAt = NowMs();
  app.Close();
  module.Stop();
  host.WaitUntilGone(kBridgeClientName);
  host.Stop();
  module.Unload();
  Note("DLLStop and shutdown took %.0f ms", NowMs() - stopAt);
  return 0;
}
