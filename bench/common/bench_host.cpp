#include "bench_host.h"

#include <cstdio>

#include "bench_panels.h"
#include "hosted_module.h"
#include "lateness.h"
#include "lvar/records.h"
#include "memory_app.h"
#include "report.h"

namespace bench {

namespace {

constexpr size_t kKeptLines = 400;

}  // namespace

bool BenchHost::Start(const HostSettings& settings, std::string* error) {
  simhost::SimHostOptions options;
  options.pipeName = simhost::kDefaultPipeName;
  options.tcp6 = false;
  options.tcp4 = false;
  options.writeRegistry = false;
  options.manualClock = !settings.frameClock;
  options.window = settings.channel;
  options.haveAircraft = settings.haveAircraft;
  if (settings.haveAircraft) options.aircraft = settings.aircraft;
  options.quitGraceMs = 2000;
  options.logSink = [this](const std::string& line) {
    std::lock_guard<std::mutex> guard(lock_);
    lines_.push_back(line);
    if (lines_.size() > kKeptLines) lines_.pop_front();
  };
  return host_.Start(options, error);
}

std::shared_ptr<simhost::Session> BenchHost::SessionNamed(const std::string& name) {
  for (const auto& session : host_.Core().Sessions()) {
    if (session->Opened() && session->Name() == name) return session;
  }
  return nullptr;
}

bool BenchHost::WaitForSubscriptions(const char* areaName, size_t subscriptions, DWORD timeoutMs) {
  return WaitUntil(
      [&] {
        for (const auto& area : host_.Core().ClientData().Areas()) {
          if (area.name == areaName) return area.subscriptions >= subscriptions;
        }
        return false;
      },
      timeoutMs);
}

bool BenchHost::WaitForBridge(DWORD timeoutMs) {
  return WaitUntil([&] { return SessionNamed(kBridgeClientName) != nullptr; }, timeoutMs) &&
         WaitForSubscriptions(records::kHostRequestAreaName, 1, timeoutMs);
}

bool BenchHost::WaitUntilGone(const std::string& name, DWORD timeoutMs) {
  return WaitUntil([&] { return SessionNamed(name) == nullptr; }, timeoutMs);
}

bool BenchHost::OnChannel(const std::string& name) {
  auto session = SessionNamed(name);
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
                static_cast<unsigned long long>(stats.submitted), static_cast<unsigned long long>(stats.delivered),
                static_cast<unsigned long long>(stats.deliveredToPipe));
  return text;
}

std::vector<std::string> BenchHost::ConsoleLines() {
  std::lock_guard<std::mutex> guard(lock_);
  return std::vector<std::string>(lines_.begin(), lines_.end());
}

bool StartHostAndModule(BenchHost& host, HostedModule& module, const HostSettings& settings,
                        void* panels, const std::atomic<uint64_t>* reads, bool start) {
  std::string error;
  if (!host.Start(settings, &error)) {
    std::printf("simhost did not start: %s\n", error.c_str());
    return false;
  }
  if (!module.Load(BridgeModulePath(), &error)) {
    std::printf("%s\n", error.c_str());
    return false;
  }
  module.SetPanels(panels != nullptr ? panels : const_cast<uint64_t*>(host.Sim().PanelTable()));
  if (reads != nullptr) module.CountReadsWith(reads);
  if (!start) return true;
  if (!module.Start() || !host.WaitForBridge()) {
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
