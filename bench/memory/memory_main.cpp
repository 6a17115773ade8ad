// Memory: the process's private bytes and open handles (a) across DLLStart /
// DLLStop cycles of the module, each cycle connecting it to simhost and
// waiting until it serves the application's area, and (b) across a run with
// 1,000 monitored variables, all moving, published to an application that
// keeps its connection alive. Samples are taken at steps after a warm-up; the
// verdict looks at the second half of them, once the heaps have settled, and
// a least-squares slope over all of them tells a steady leak from one-off
// steps.
//
//   bench_memory [--channel] [--reload] [--cycles 100] [--run-seconds 60] [--vars 1000] [--interval 1000]
//
// With --reload each cycle also frees the module and loads it afresh, as the
// simulator does when the user restarts it.
//
// The default interval keeps the changes (1,000 a second) well within what
// the pipe carries. When changes outpace the transport, the module's send
// queue, which has no bound, grows (the publishing benchmark shows by how
// much); here the question is whether anything leaks.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_host.h"
#include "bench_panels.h"
#include "clock.h"
#include "wake_counter.h"
#include "memory_app.h"
#include "process_stats.h"
#include "process_usage.h"
#include "report.h"
#include "stats.h"

namespace {

using namespace bench;
using namespace process_stats;

constexpr DWORD kHeartbeatMs = 10000;

void PrintSample(const char* label, double at, const MemorySample& s, uint64_t published) {
  std::printf("  %-14s %10.0f  private %9.0f KiB  pagefile %9.0f KiB  handles %5u", label, at, s.privateBytes / 1024.0,
              s.pagefileBytes / 1024.0, s.handles);
  if (published > 0) std::printf("  published %llu", static_cast<unsigned long long>(published));
  std::printf("\n");
  std::fflush(stdout);
}

// A sample whose handle count is the least of three probes 100 ms apart, so
// that a handle open only for a moment (simhost replacing its waiting pipe
// instance, a connection thread about to be reaped) is not counted.
MemorySample SettledSample() {
  MemorySample sample = SampleMemory();
  for (int i = 0; i < 2; ++i) {
    Sleep(100);
    uint32_t handles = CountOpenHandles();
    if (handles < sample.handles) sample.handles = handles;
  }
  return sample;
}

// Prints the growth over the samples and returns whether memory and handles
// stayed flat over the second half of the samples (the first half lets the
// heaps settle): handles at most one above their count at the midpoint
// (a connection thread simhost has not reaped yet), private bytes less than
// `tolerance` above theirs.
bool Growth(const char* unit, const std::vector<double>& at, const std::vector<MemorySample>& samples,
            double tolerance) {
  std::vector<double> bytes;
  for (const MemorySample& s : samples) bytes.push_back(static_cast<double>(s.privateBytes));
  double slope = 0, intercept = 0;
  FitLine(at, bytes, &slope, &intercept);
  const MemorySample& first = samples.front();
  const MemorySample& middle = samples[samples.size() / 2];
  const MemorySample& last = samples.back();
  const double privateGrowth = static_cast<double>(last.privateBytes) - first.privateBytes;
  const double lateGrowth = static_cast<double>(last.privateBytes) - middle.privateBytes;
  const double pagefileGrowth = static_cast<double>(last.pagefileBytes) - first.pagefileBytes;
  const int handleGrowth = static_cast<int>(last.handles) - static_cast<int>(first.handles);
  const int lateHandles = static_cast<int>(last.handles) - static_cast<int>(middle.handles);
  Row("private bytes, last - first", privateGrowth / 1024.0, "KiB", 0);
  Row("private bytes, last - midpoint", lateGrowth / 1024.0, "KiB", 0);
  Row(std::string("private bytes, least-squares slope per ") + unit, slope / 1024.0, "KiB", 2);
  Row("pagefile bytes, last - first", pagefileGrowth / 1024.0, "KiB", 0);
  Row("handles, last - first", handleGrowth, "", 0);
  Row("handles, last - midpoint", lateHandles, "", 0);
  return lateHandles <= 1 && lateGrowth < tolerance;
}

// `handlesBefore` receives the handles open before the counted cycles.
bool Cycles(BenchHost& host, HostedModule& module, int cycles, bool channel, bool reload,
            std::vector<uintptr_t>* handlesBefore) {
  Note("%d DLLStart / DLLStop cycles (module %s), each until the module serves its area%s:", cycles,
       reload ? "freed and loaded again at each" : "loaded once", channel ? " on the in-process channel" : "");
  auto cycle = [&] {
    if (module.Start() == 0 || !host.WaitForBridge()) return false;
    if (channel && !host.WaitForChannel(kBridgeClientName)) return false;
    module.Stop();
    module.ReleaseWorker();  // no handle of the host's own between the cycles
    if (!host.WaitUntilGone(kBridgeClientName)) return false;
    if (!reload) return true;
    module.Unload();
    if (!module.Load()) return false;
    module.SetPanels(host.Sim().PanelTable());
    return true;
  };
  for (int i = 0; i < 3; ++i) {
    if (!cycle()) return false;  // warm-up: lazily made objects of the system and of simhost
  }
  std::vector<double> at;
  std::vector<MemorySample> samples;
  *handlesBefore = OpenHandleValues();
  const int step = cycles >= 10 ? cycles / 10 : 1;
  for (int i = 0; i <= cycles; ++i) {
    if (i % step == 0 || i == cycles) {
      Sleep(200);
      host.Sim().ConnectionCount();  // simhost reaps the finished connection
      samples.push_back(SettledSample());
      at.push_back(i);
      PrintSample("after cycle", i, samples.back(), 0);
    }
    if (i < cycles && !cycle()) {
      Note("cycle %d failed", i + 1);
      return false;
    }
  }
  bool flat = Growth("cycle", at, samples, 64 * 1024.0);
  for (const auto& kind : DescribeNewHandles(*handlesBefore, OpenHandleValues())) {
    Note("  open now and not before the cycles: %d x %s", kind.second, kind.first.c_str());
  }
  Goal("no growth over the second half of the cycles (handles, private bytes under 64 KiB)", flat);
  return true;
}

bool Run(BenchHost& host, HostedModule& module, BenchPanels& panels, double seconds, double interval) {
  const uint32_t count = panels.Count();
  Note("%.0f s with %u variables monitored at %.0f ms, all moving:", seconds, count, interval);
  module.SetPanels(panels.Table());
  if (module.Start() == 0 || !host.WaitForBridge()) return false;
  MemoryApp app(host.Sim().Core());
  if (!ConnectApplication(app, count)) return false;
  for (uint32_t id = 0; id < count; ++id) {
    app.Send(records::kCommandStartMonitoring, panels.Name(id).c_str(), interval);
  }
  const double start = NowMs();
  const double stepMs = seconds * 1000.0 / 10.0;
  const double warmupMs = stepMs < 10000.0 ? stepMs : 10000.0;
  double nextHeartbeat = start + kHeartbeatMs;
  double nextSample = start + warmupMs;
  std::vector<double> at;
  std::vector<MemorySample> samples;
  std::vector<uintptr_t> handlesAtFirstSample;
  while (samples.size() < 11) {
    double now = NowMs();
    if (now >= nextHeartbeat) {
      app.Send(records::kCommandHeartbeat);
      nextHeartbeat += kHeartbeatMs;
    }
    if (now >= nextSample) {
      if (samples.empty()) handlesAtFirstSample = OpenHandleValues();
      samples.push_back(SettledSample());
      at.push_back((now - start) / 1000.0);
      PrintSample("at second", at.back(), samples.back(), app.VarDataCount());
      nextSample += stepMs;
    }
    Sleep(50);
  }
  const double publishedPerSecond = app.VarDataCount() / ((NowMs() - start) / 1000.0);
  Row("changes published per second, on average", publishedPerSecond, "/s", 0);
  bool flat = Growth("second", at, samples, 256 * 1024.0);
  for (const auto& kind : DescribeNewHandles(handlesAtFirstSample, OpenHandleValues())) {
    Note("  open now and not at the first sample: %d x %s", kind.second, kind.first.c_str());
  }
  Goal("no growth over the second half of the run (handles, private bytes under 256 KiB)", flat);
  app.Close();
  module.Stop();
  module.ReleaseWorker();
  host.WaitUntilGone(kBridgeClientName);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args(argc, argv);
  const bool channel = args.Has("--channel");
  const bool reload = args.Has("--reload");
  const int cycles = static_cast<int>(args.Number("--cycles", 100));
  const double seconds = args.Number("--run-seconds", 60);
  const uint32_t count = static_cast<uint32_t>(args.Number("--vars", 1000));
  const double interval = args.Number("--interval", 1000);

  Heading(std::string("Memory: private bytes and handles, ") + (channel ? "in-process channel" : "pipe"));
  auto hostOwner = std::make_unique<BenchHost>();
  BenchHost& host = *hostOwner;
  HostSettings settings;
  settings.channel = channel;
  HostedModule module;
  if (!StartHostAndModule(host, module, settings, nullptr, nullptr, false)) {
    return 2;
  }
  std::vector<uintptr_t> handlesBefore;
  bool ok = cycles <= 0 || Cycles(host, module, cycles, channel, reload, &handlesBefore);
  BenchPanels panels(count, BenchPanels::Values::kReadTime);
  if (ok && seconds > 0) ok = Run(host, module, panels, seconds, interval);
  if (module.Worker() != nullptr) module.Stop();  // a run that failed half-way
  host.Stop();
  module.Unload();
  hostOwner.reset();
  if (cycles > 0) {
    // Whatever simhost owned is gone now: handles left over from the cycles
    // that remain belong to the module or to the process.
    int left = 0;
    const auto kinds = DescribeNewHandles(handlesBefore, OpenHandleValues());
    for (const auto& kind : kinds) left += kind.second;
    Note("after simhost has stopped, handles made since the cycles began that are still open: %d", left);
    for (const auto& kind : kinds) Note("  %d x %s", kind.second, kind.first.c_str());
  }
  return ok ? 0 : 1;
}
