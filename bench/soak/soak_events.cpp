// The soak's events: what each does, and what it expects.
#include <algorithm>
#include <cstdio>

#include "rogue_client.h"
#include "soak_aircraft.h"
#include "soak_run.h"
#include "simconnect/endpoints.h"

namespace soak {

namespace {

constexpr DWORD kTitleTimeoutMs = 10000;
constexpr uint32_t kIntervals[] = {33, 50, 100, 250, 500, 1000, 2000};
constexpr uint32_t kLongestInterval = 2000;
// How long after a value's write its report may take beyond the interval.
constexpr DWORD kReportSlackMs = 1500;

}  // namespace

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
  const std::string what = RunRogue(random_, mode_ == CycleMode::kTcp
                                                 ? std::wstring(L"\\\\.\\pipe\\") + kTcpCycleRoguePipe
                                                 : std::wstring(endpoints::kDefaultPipePath));
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
  Begin(EventKind::kStall, "simhost stalls for " + std::to_string(ms) + " ms (" + ModeName(mode_) + "); " +
                               std::to_string(pairs) + " writes and reads meanwhile");
  ++stallsByMode_[static_cast<int>(mode_)];
  const simhost::ChannelStats before = simhost::ChannelSnapshot();
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
  std::printf("            all answered %lu ms after the stall began",
              static_cast<unsigned long>(GetTickCount() - start));
  const simhost::ChannelStats after = simhost::ChannelSnapshot();
  if (mode_ == CycleMode::kChannel) {
    std::printf("; the channel held %llu requests and %llu messages",
                static_cast<unsigned long long>(after[simhost::kSubmitHeld] - before[simhost::kSubmitHeld]),
                static_cast<unsigned long long>(after[simhost::kDeliveryHeld] - before[simhost::kDeliveryHeld]));
  }
  std::printf("\n");
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

}  // namespace soak
