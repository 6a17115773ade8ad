#include "bench_host.h"

#include <cstdio>

#include "bench_panels.h"
#include "lateness.h"
#include "lvar/records.h"
#include "memory_app.h"
#include "report.h"
#include "wake_counter.h"

namespace bench {

bool BenchHost::Start(const HostSettings& settings, std::string* error) {
  simhost::SimHostOptions options;
  options.pipeName = endpoints::kDefaultPipeName;
  options.tcp6 = false;
  options.tcp4 = false;
  options.writeRegistry = false;
  options.manualClock = !settings.frameClock;
  options.window = settings.channel;
  options.haveAircraft = settings.haveAircraft;
  if (settings.haveAircraft) options.aircraft = settings.aircraft;
  options.quitGraceMs = 2000;
  options.logSink = [](const std::string&) {};  // the figures alone on the console
  return host_.Start(options, error);
}

bool BenchHost::WaitForSubscriptions(const char* areaName, size_t subscriptions, DWORD timeoutMs) {
  return WaitUntil([&] { return AreaSubscriptions(host_, areaName) >= subscriptions; }, timeoutMs);
}

bool BenchHost::WaitForBridge(DWORD timeoutMs) { return WaitUntil([&] { return BridgeReady(host_); }, timeoutMs); }

bool BenchHost::WaitUntilGone(const std::string& name, DWORD timeoutMs) {
  return WaitUntil([&] { return OpenSessionNamed(host_, name) == nullptr; }, timeoutMs);
}

bool BenchHost::OnChannel(const std::string& name) {
  auto session = OpenSessionNamed(host_, name);
  return session != nullptr && host_.OnChannel(session->Number());
}

bool BenchHost::WaitForChannel(const std::string& name, DWORD timeoutMs) {
  return WaitUntil([&] { return OnChannel(name); }, timeoutMs);
}

std::string BenchHost::ChannelSummary() {
  simhost::ChannelHost* channels = host_.Channels();
  if (channels == nullptr) return std::string();
  simhost::ChannelStats stats = channels->Stats();
  char text[256];
  std::snprintf(text, sizeof text,
                "in-process channel: %llu requests submitted, %llu messages delivered in memory, %llu over the "
                "pipe for want of a block",
                static_cast<unsigned long long>(stats[simhost::kSubmitted]),
                static_cast<unsigned long long>(stats[simhost::kDelivered]),
                static_cast<unsigned long long>(stats[simhost::kDeliveredToPipe]));
  return text;
}

bool StartHostAndModule(BenchHost& host, HostedModule& module, const HostSettings& settings, void* panels,
                        const std::atomic<uint64_t>* reads, bool start) {
  std::string error;
  if (!host.Start(settings, &error)) {
    std::printf("simhost did not start: %s\n", error.c_str());
    return false;
  }
  if (!module.Load(&error) || !CountWakes(module.Handle(), reads, &error)) {
    std::printf("%s\n", error.c_str());
    return false;
  }
  module.SetPanels(panels != nullptr ? panels : host.Sim().PanelTable());
  if (!start) return true;
  if (module.Start() == 0 || module.Worker() == nullptr || !host.WaitForBridge()) {
    std::printf("the module did not come up\n");
    return false;
  }
  if (settings.channel && !host.WaitForChannel(kBridgeClientName)) {
    Note("WARNING: the module is not on the in-process channel");
  }
  return true;
}

void TrackVarData(MemoryApp& app, LatenessTracker& tracker) {
  app.OnVarData([&tracker](double value, const char* name, double arrived) {
    uint32_t id = 0;
    if (BenchPanels::ParseId(name, &id)) tracker.Add(id, value, arrived);
  });
}

bool ConnectApplication(MemoryApp& app, uint32_t count, uint32_t listTimeoutMs) {
  uint32_t listed = 0;
  if (!app.Open("TVO.Bench.Application") || !app.Connect() || !app.ListVariables(&listed, listTimeoutMs) ||
      listed != count) {
    std::printf("the application could not connect (listed %u of %u variables)\n", listed, count);
    return false;
  }
  return true;
}

}  // namespace bench
