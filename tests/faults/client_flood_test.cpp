// An application floods the module with requests through simhost: thousands
// of HostRequest records written in one burst, without waiting for any
// answer. The module serves every one, in the order written, and the
// application gets every answer, in that order; nothing is lost or refused.
// Then the simulator quits and the module ends cleanly, within its bound,
// leaving nothing behind.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app_client.h"
#include "bridge_log_file.h"
#include "fault_cycle.h"
#include "lvar/records.h"
#include "support/test_env.h"

namespace {

using e2e::Lines;

constexpr size_t kVariables = 5;
constexpr size_t kReports = 3000;
constexpr size_t kSets = 1000;
constexpr int kCycles = 2;
// As in the other fault programs: one object that the system creates once
// may appear while the cycles run; a leak per cycle exceeds it.
constexpr size_t kSlack = 1;

double ValueOf(size_t i) { return 1.5 + static_cast<double>(i % kVariables); }
std::string Name(size_t i) { return "FLOOD_" + std::to_string(i % kVariables); }

simhost::AircraftDescription Aircraft() {
  simhost::AircraftDescription aircraft;
  aircraft.title = "Flood Aircraft";
  for (size_t i = 0; i < kVariables; ++i) {
    simhost::Motion constant;
    constant.value = ValueOf(i);
    aircraft.variables.push_back({Name(i), constant});
  }
  simhost::Motion zero;
  aircraft.variables.push_back({"FLOOD_TARGET", zero});
  return aircraft;
}

std::string Fixed(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", value);
  return text;
}

// Waits until `count` VarData records have arrived; then a short while more,
// to see that no extra one follows.
bool ReceiveExactly(e2e::AppClient& app, size_t count) {
  bool all = WaitUntil(
      [&] {
        app.Pump(20);
        return app.VarDataQueue().size() >= count;
      },
      30000);
  EXPECT_TRUE(all) << app.VarDataQueue().size() << " of " << count << " values arrived";
  app.Pump(200);
  EXPECT_EQ(app.VarDataQueue().size(), count);
  return all;
}

void FloodOnce(int cycle) {
  SCOPED_TRACE("cycle " + std::to_string(cycle));
  faults::ServedModule module;
  ASSERT_TRUE(module.Start(Aircraft(), /*manualClock=*/true));
  {
    e2e::AppClient app;
    ASSERT_TRUE(app.Open("faults flooding application"));
    ASSERT_TRUE(app.Send(records::kCommandConnect, "", 0.0, 9, 0xF100D));
    records::HostEvent reply{};
    ASSERT_TRUE(app.TakeEventCode(records::kEventConnectReply, &reply));

    // A burst of reports over five variables: every answer, in order.
    for (size_t i = 0; i < kReports; ++i) {
      ASSERT_TRUE(app.Send(records::kCommandForceUpdate, Name(i).c_str()));
    }
    ASSERT_TRUE(ReceiveExactly(app, kReports));
    size_t i = 0;
    for (const records::VarData& record : app.VarDataQueue()) {
      if (record.name != Name(i) || record.value != ValueOf(i) || record.isMjc != 0) {
        ADD_FAILURE() << "answer " << i << ": " << record.name << " = " << record.value;
        break;
      }
      ++i;
    }
    app.DiscardReceived();

    // A burst of sets of one variable, then one report: the last set wins.
    for (size_t k = 1; k <= kSets; ++k) {
      ASSERT_TRUE(app.Send(records::kCommandSetValue, "FLOOD_TARGET", static_cast<double>(k)));
    }
    ASSERT_TRUE(app.Send(records::kCommandForceUpdate, "FLOOD_TARGET"));
    ASSERT_TRUE(ReceiveExactly(app, 1));
    EXPECT_EQ(app.VarDataQueue().front().value, static_cast<double>(kSets));
    EXPECT_TRUE(app.Exceptions().empty());
  }

  // The simulator quits: the worker ends on the quit message, before DLLStop.
  const Lines lines = faults::QuitAndStop(module);
  EXPECT_EQ(faults::CountStartingWith(lines, "LVARHandler::ForceUpdate FLOOD_"), kReports + 1);
  // The sets were served in the order written.
  size_t k = 0;
  for (const std::string& line : lines) {
    if (line.compare(0, 36, "LVARHandler::SetValue FLOOD_TARGET =") != 0) continue;
    ++k;
    if (line != "LVARHandler::SetValue FLOOD_TARGET = " + Fixed(static_cast<double>(k)) + " : SUCCESS") {
      ADD_FAILURE() << "set " << k << ": " << line;
      break;
    }
  }
  EXPECT_EQ(k, kSets);
}

TEST(ClientFloodTest, EveryRequestOfABurstIsServedInOrderAndTheModuleStillQuitsCleanly) {
  FloodOnce(0);  // what the process creates once
  if (HasFailure()) return;
  const faults::Resources before = faults::TakeResources();
  for (int cycle = 1; cycle <= kCycles && !HasFailure(); ++cycle) FloodOnce(cycle);
  faults::ExpectNothingLeft(before, kSlack, "after the cycles");
}

}  // namespace
