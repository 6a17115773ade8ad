// An application that writes thousands of requests in one burst without
// waiting for an answer, through simhost: every one is served in the order
// written. Then the simulator quits and the module ends cleanly, leaving
// nothing behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/app_client.h"
#include "support/hosted_module.h"
#include "support/module_log.h"
#include "support/wait_until.h"

namespace {

using module_log::Lines;

constexpr size_t kFixed = 5;
constexpr size_t kReports = 3000;
constexpr size_t kSets = 1000;

std::string Fixed(size_t i) { return "FIXED_" + std::to_string(i % kFixed); }
double FixedValue(size_t i) { return 1.5 + static_cast<double>(i % kFixed); }

// Waits until `count` values have come, then a while more: no other follows.
void ReceiveExactly(AppClient& app, size_t count) {
  EXPECT_TRUE(WaitUntil([&] { app.Pump(20); return app.VarData().size() >= count; }, 30000));
  app.Pump(200);
  EXPECT_EQ(app.VarData().size(), count);
}

void Flood(AppClient& app) {
  // A burst of reports over five variables: every answer, in order.
  for (size_t i = 0; i < kReports; ++i) ASSERT_TRUE(app.Send(records::kCommandForceUpdate, Fixed(i)));
  ReceiveExactly(app, kReports);
  for (size_t i = 0; i < app.VarData().size(); ++i) {
    const records::VarData& value = app.VarData()[i];
    if (value.name != Fixed(i) || value.value != FixedValue(i) || value.isMjc != 0) {
      ADD_FAILURE() << "answer " << i << ": " << value.name << " = " << value.value;
      break;
    }
  }
  app.VarData().clear();
  // A burst of sets of one variable, then one report: the last set wins.
  for (size_t k = 1; k <= kSets; ++k) {
    ASSERT_TRUE(app.Send(records::kCommandSetValue, "TARGET", static_cast<double>(k)));
  }
  ASSERT_TRUE(app.Send(records::kCommandForceUpdate, "TARGET"));
  ReceiveExactly(app, 1);
  EXPECT_EQ(app.VarData().front().value, static_cast<double>(kSets));
}

void BusyCycle() {
  ServedOptions options;
  options.aircraft.title = "Busy Aircraft";
  simhost::Motion constant;
  for (size_t i = 0; i < kFixed; ++i) {
    constant.value = FixedValue(i);
    options.aircraft.variables.push_back({Fixed(i), constant});
  }
  constant.value = 0.0;
  options.aircraft.variables.push_back({"TARGET", constant});
  options.runFrames = true;
  ServedModule sim;
  ASSERT_TRUE(sim.Start(options));
  AppClient app;
  ASSERT_TRUE(app.Open(21));
  Flood(app);
  EXPECT_TRUE(app.Exceptions().empty());
  app.Close();

  const Lines lines = sim.QuitAndStop();
  EXPECT_EQ(module_log::CountOf(lines, "LVARHandler::Connect 00007e57"), 1u);
  EXPECT_EQ(module_log::CountStartingWith(lines, "LVARHandler::ForceUpdate FIXED_"), kReports);
  // The sets were served in the order written.
  size_t k = 0;
  for (const std::string& line : lines) {
    if (line.compare(0, 30, "LVARHandler::SetValue TARGET =") != 0) continue;
    if (line != "LVARHandler::SetValue TARGET = " + std::to_string(static_cast<double>(++k)) + " : SUCCESS") {
      ADD_FAILURE() << "set " << k << ": " << line;
      break;
    }
  }
  EXPECT_EQ(k, kSets);
}

TEST(BusyApplicationTest, ABurstOfRequestsIsServedInOrderAndTheCyclesLeaveNothingBehind) {
  // An unnamed event appears once, in whichever counted cycle (five cycles
  // leave one as well): one of slack, and two cycles to tell a leak from it.
  CyclesLeaveNothingBehind(2, 1, BusyCycle);
}

}  // namespace
