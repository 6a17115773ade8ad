// The application's monitoring requests and Update, the periodic pass: what
// is read when, what is reported, the heartbeat, the rescan and the stop.
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "bridge/module_state.h"
#include "linked_bridge.h"

namespace {

using namespace linked_bridge;

// L:A, L:B and L:C at ids 0 to 2, scanned, with the application connected.
class MonitoringTest : public LinkedBridgeTest {
 protected:
  void SetUp() override {
    LinkedBridgeTest::SetUp();
    for (const char* name : {"L:A", "L:B", "L:C"}) panels.Put(name[2] - 'A', name);
    handler->ScanLVARS(false, false);
    Connect();
  }
  void Stop(const char* name) { handler->StopMonitoring(Request(records::kCommandStopMonitoring, name)); }
  // Starts monitoring; the first report and the log lines are taken off.
  void Monitor(const char* name, double interval) {
    Start(name, interval);
    NextRecord(kVarDataArea);
    NewLines();
  }
};

TEST_F(MonitoringTest, StartKeepsOrTruncatesTheIntervalUnknownAndReservedNamesAreRefusedStopEndsIt) {
  panels.Set("L:A", 0.5);
  Start("l:a", 250.9);
  Start("L:A", 0.0);  // 0 or less keeps the interval
  for (int i = 0; i < 2; ++i) EXPECT_EQ(NextRecord(kVarDataArea), VarData(0.5, 0, "L:A"));
  panels.Set("L:A", 0.75);
  EXPECT_EQ(handler->Update(), 250u);
  EXPECT_EQ(After(249), 1u);
  EXPECT_EQ(After(1), 250u);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(0.75, 0, "L:A"));

  Start("MJC_VAR_READ_CODE", 100.0, 7);
  Start("L:MISSING", 100.0);
  Start("", 100.0);
  Stop("l:A");
  Stop("L:NOPE");
  handler->SetValue(Request(records::kCommandSetValue, "l:b", 0.75));
  handler->SetValue(Request(records::kCommandSetValue, "L:SLATS", 2.0));
  handler->ForceUpdate(Request(records::kCommandForceUpdate, "L:NONE"));
  EXPECT_EQ(panels.Value("L:B"), 0.75);
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 13, -5.0, "MJC_VAR_READ_CODE"));
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 13, -1.0, "L:MISSING"));
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 13, -2.0, "L:NOPE"));
  panels.Set("L:A", 1.0);
  EXPECT_EQ(After(250), kNoTimeout);
  EXPECT_TRUE(connection.Quiet());
  EXPECT_EQ(NewLines(), (Lines{"LVARHandler::StartMonitoring l:a (250): success",
                               "LVARHandler::ForceUpdate l:a = 0.500000 : success",
                               "LVARHandler::StartMonitoring L:A (0): success",
                               "LVARHandler::ForceUpdate L:A = 0.500000 : success", "L:A (0) = 0.750000",
                               "LVARHandler::Update::1",
                               "LVARHandler::SendToCLient(0000000d,-5.000000,MJC_VAR_READ_CODE)",
                               "LVARHandler::StartMonitoring MJC_VAR_READ_CODE : not supported",
                               "LVARHandler::SendToCLient(0000000d,-1.000000,L:MISSING)",
                               "LVARHandler::StartMonitoring L:MISSING : not found",
                               "LVARHandler::StopMonitoring l:A : success",
                               "LVARHandler::SendToCLient(0000000d,-2.000000,L:NOPE)",
                               "LVARHandler::StopMonitoring L:NOPE : not found",
                               "LVARHandler::SetValue l:b = 0.750000 : SUCCESS",
                               "LVARHandler::SetValue L:SLATS = 2.000000 : UNKNOWN LVAR",
                               "LVARHandler::ForceUpdate L:NONE : not found"}));
}

TEST_F(MonitoringTest, AChangeIsAMoveOfAtLeastTheThresholdFromTheValueLastSent) {
  const double threshold = 0.01f;  // the single-precision 0.01, widened
  Monitor("L:A", 100.0);
  auto readAtNextPass = [this](double value) {
    panels.Set("L:A", value);
    After(100);
  };
  readAtNextPass(std::nextafter(threshold, 0.0));
  readAtNextPass(-threshold);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(-threshold, 0, "L:A"));
  // Small drifts add up against the value last sent.
  for (double drift : {0.004, 0.008, 0.012}) readAtNextPass(-threshold + drift);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(-threshold + 0.012, 0, "L:A"));
  // A NaN is no change; the next number is measured against what was sent.
  readAtNextPass(std::numeric_limits<double>::quiet_NaN());
  readAtNextPass(0.5);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(0.5, 0, "L:A"));
  EXPECT_TRUE(connection.Quiet());
  EXPECT_EQ(NewLines(), (Lines{"L:A (0) = -0.010000", "LVARHandler::Update::1", "L:A (0) = 0.002000",
                               "LVARHandler::Update::1", "L:A (0) = 0.500000", "LVARHandler::Update::1"}));
}

TEST_F(MonitoringTest, OnlyDueEntriesAreReadAndAnOverdueOneWaitsAFullInterval) {
  Monitor("L:A", 100.0);
  AdvanceTick(60);
  Monitor("L:B", 50.0);
  const int reads = panels.reads;
  EXPECT_EQ(handler->Update(), 40u);  // A due at +100, B at +110
  EXPECT_EQ(panels.reads, reads);
  // At +100 only A is due. Its read takes 20 ms, after which B is 10 ms
  // overdue: it counts its full interval, not a wrapped difference.
  panels.beforeRead = [](int32_t id) {
    if (id == 0) AdvanceTick(20);
  };
  EXPECT_EQ(After(40), 50u);
  EXPECT_EQ(panels.reads, reads + 1);
}

TEST_F(MonitoringTest, TheStopFlagEndsThePassAfterAnyReadAndSoDoesTheStopEvent) {
  for (const char* name : {"L:A", "L:B", "L:C"}) {
    Monitor(name, 100.0);
    panels.Set(name, 1.0);
  }
  // DLLStop's flag, raised while B (the second due read) is read: A went out,
  // B is read but not reported, C is not read, no summary line.
  panels.beforeRead = [](int32_t id) {
    if (id == 1) bridge::workerHandles.stopRequested = true;
  };
  int reads = panels.reads;
  EXPECT_EQ(After(100), kNoTimeout);
  EXPECT_EQ(panels.reads, reads + 2);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(1.0, 0, "L:A"));
  EXPECT_EQ(NewLines(), Lines{"L:A (0) = 1.000000"});
  bridge::workerHandles.stopRequested = false;
  // B, changed, is due before its interval has passed.
  panels.beforeRead = nullptr;
  EXPECT_EQ(After(1), 99u);
  EXPECT_EQ(NewLines(), (Lines{"L:B (1) = 1.000000", "L:C (2) = 1.000000", "LVARHandler::Update::2"}));

  // The Stop event, set from outside through its name, ends a pass too.
  HANDLE stop = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  bridge::workerHandles.stopEvent = stop;
  EXPECT_EQ(After(100), kNoTimeout);
  bridge::workerHandles.stopEvent = INVALID_HANDLE_VALUE;
  CloseHandle(stop);
}

TEST_F(MonitoringTest, SixtySecondsWithoutARequestForgetTheApplicationUntilItConnectsAgain) {
  Monitor("L:A", 100.0);
  handler->Heartbeat();
  SetTick(70000);
  EXPECT_EQ(handler->Update(), 100u);
  SetTick(70001);
  EXPECT_EQ(handler->Update(), kNoTimeout);
  Start("L:A", 100.0);
  panels.Set("L:A", 3.0);
  handler->Heartbeat();
  EXPECT_EQ(handler->Update(), kNoTimeout);
  EXPECT_TRUE(connection.Quiet());
  EXPECT_EQ(NewLines(), (Lines{"Check for new LVARS", "No heartbeat for 60001 from application. resetting."}));
  Connect(5);  // the same peer is answered again
}

TEST_F(MonitoringTest, TheRegistryIsRescannedWhenMoreThan30SecondsHavePassed) {
  panels.Put(3, "L:LATE", 2.5);
  SetTick(30000);
  handler->Update();
  EXPECT_TRUE(connection.Quiet());
  SetTick(30001);
  handler->Heartbeat();
  handler->Update();
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 12, 2.5, "L:LATE"));
  handler->Update();
  SetTick(60001);
  handler->Update();
  SetTick(60002);
  handler->Update();
  EXPECT_EQ(NewLines(), (Lines{"Check for new LVARS", "LVARHandler::SendToCLient(0000000c,2.500000,L:LATE)",
                               "1 Changes 1 added 0 deleted (Total Vars 4)", "Check for new LVARS"}));
}

// A simulator that stops reading its pipe: Update publishes until 64 KiB of
// requests wait (215 VarData), then reads and sends nothing until at most
// 16 KiB wait, looking at the queue every 2 ms; a report asked for is never held. The
// held entries then go out with their latest values, first the one where the
// hold began, and an entry never gets a value older than one it could have.
TEST_F(MonitoringTest, ASlowSimulatorHoldsPublishingUntilTheQueueDrainsAndTheLatestValuesGoOut) {
  constexpr int kCount = 800;  // more than the pipe's 64 KiB and the 64 KiB queued together
  auto name = [](int i) { return "L:V" + std::to_string(i); };
  for (int i = 0; i < kCount; ++i) panels.Put(10 + i, name(i));
  handler->ScanLVARS(true, false);
  for (int i = 0; i < kCount; ++i) Start(name(i), 100.0);
  for (int i = 0; i < kCount; ++i) NextRecord(kVarDataArea);
  NewLines();

  for (int i = 0; i < kCount; ++i) panels.Set(name(i), 1.0);
  EXPECT_EQ(After(100), kHoldPollMs);
  const Lines lines = NewLines();
  const int held = std::stoi(lines.back().substr(sizeof "LVARHandler::Update::" - 1));
  EXPECT_GT(held, 200);
  EXPECT_LT(held, kCount);
  for (int i = 0; i < kCount; ++i) panels.Set(name(i), 2.0);
  const int reads = panels.reads;
  EXPECT_EQ(After(100), kHoldPollMs);
  EXPECT_EQ(panels.reads, reads);
  handler->ForceUpdate(Request(records::kCommandForceUpdate, name(held)));

  std::map<std::string, std::vector<double>> received;
  std::vector<std::string> order;
  for (int pass = 0; pass < 20 && order.size() < size_t(kCount + held); ++pass) {
    for (Bytes8 request; !(request = connection.Next(300)).empty();) {
      records::VarData record;
      ASSERT_TRUE(records::DecodeVarData(request.data() + 36, request.size() - 36, &record));
      received[record.name].push_back(record.value);
      order.push_back(record.name);
    }
    handler->Update();
  }
  ASSERT_EQ(order.size(), size_t(kCount + held));  // the forced report, then one for each other entry
  EXPECT_EQ(order[held], name(held));      // the forced report, behind what was queued
  EXPECT_EQ(order[held + 1], name(held + 1));  // the pass after the drain begins where the hold began
  for (int i = 0; i < kCount; ++i) {
    const std::vector<double> expected = i < held ? std::vector<double>{1.0, 2.0} : std::vector<double>{2.0};
    EXPECT_EQ(received[name(i)], expected) << name(i);
  }
}

}  // namespace
