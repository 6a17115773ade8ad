#include "hosted_bridge.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "aircraft_file.h"
#include "lvar/records.h"
#include "support/test_env.h"

namespace e2e {

simhost::AircraftDescription SampleAircraft(const char* fileName) {
  simhost::AircraftDescription description;
  std::string error;
  std::string path = std::string(SIMHOST_AIRCRAFT_DIR) + "/" + fileName;
  EXPECT_TRUE(simhost::LoadAircraftFile(path, &description, &error)) << error;
  return description;
}

std::wstring BridgeModulePath() {
  std::string unixPath = TVO_BRIDGE_DLL;
  std::wstring path = L"Z:";
  for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

bool HostedBridge::Start(const simhost::AircraftDescription& aircraft) {
  simhost::SimHostOptions options;
  options.pipeName = simhost::kDefaultPipeName;  // the module opens no other
  options.tcp6 = false;
  options.tcp4 = false;
  options.manualClock = true;
  options.haveAircraft = true;
  options.aircraft = aircraft;
  options.addonPath = BridgeModulePath();
  options.logSink = console_.Sink();
  options.quitGraceMs = 5000;
  startedAt_ = std::time(nullptr);
  std::string error;
  bool started = host_.Start(options, &error);
  EXPECT_TRUE(started) << error;
  return started;
}

std::shared_ptr<simhost::Session> HostedBridge::BridgeSession() {
  for (const auto& session : host_.Core().Sessions()) {
    if (session->Opened() && session->Name() == kBridgeClientName) return session;
  }
  return nullptr;
}

bool HostedBridge::WaitUntilReady(DWORD timeoutMs) {
  bool ready = WaitUntil(
      [this] {
        if (BridgeSession() == nullptr) return false;
        for (const auto& area : host_.Core().ClientData().Areas()) {
          if (area.name == records::kHostRequestAreaName) return area.subscriptions > 0;
        }
        return false;
      },
      timeoutMs);
  EXPECT_TRUE(ready) << "the module did not subscribe to the host-request area";
  return ready;
}

bool HostedBridge::Choose(const std::string& item, const std::string& expectedText, DWORD timeoutMs) {
  auto session = BridgeSession();
  if (session == nullptr) return false;
  const std::string textLine =
      "text from " + session->Label() + " (type 5 scrolling yellow, 30.0 s): " + expectedText;
  auto count = [&] {
    std::vector<std::string> lines = console_.Lines();
    return std::count(lines.begin(), lines.end(), textLine);
  };
  const auto before = count();
  if (!host_.Core().ChooseMenuItem(item)) {
    ADD_FAILURE() << "no menu item " << item;
    return false;
  }
  bool shown = WaitUntil([&] { return count() > before; }, timeoutMs);
  EXPECT_TRUE(shown) << "simhost did not show: " << textLine;
  return shown;
}

}  // namespace e2e
