// The application's monitoring requests and Update, the periodic pass: what
// is read when, what is reported, the heartbeat, the rescan and the stop.
#include <cmath>
#include <limits>

#include "bridge/module_state.h"
#include "linked_bridge.h"

namespace {

using namespace linked_bridge;

class MonitoringTest : public LinkedBridgeTest {
 protected:
  void SetUp() override {
    LinkedBridgeTest::SetUp();
    panels.Put(0, "L:A");
    panels.Put(1, "L:B");
    panels.Put(2, "L:C");
    handler->ScanLVARS(false, false);
    NewLines();
  }
  void Stop(const char* name) { handler->StopMonitoring(Request(records::kCommandStopMonitoring, name)); }
};

TEST_F(MonitoringTest, StartKeepsOrTruncatesTheIntervalRefusesReservedAndUnknownNamesAndStopEndsIt) {
  Connect();
  panels.Set("L:A", 0.5);
  Start("l:a", 250.9);
  Start("L:A", 0.0);  // 0 or less keeps the interval
  Start("L:A", -20.0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(NextRecord(kVarDataArea), VarData(0.5, 0, "L:A"));
  panels.Set("L:A", 0.75);
  EXPECT_EQ(handler->Update(), 250u);
  EXPECT_EQ(After(249), 1u);
  EXPECT_EQ(After(1), 250u);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(0.75, 0, "L:A"));

  Start("MJC_VAR_READ_CODE", 100.0, 7);
  Start("L:MISSING", 100.0);
  Start("", 100.0);
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 13, -5.0, "MJC_VAR_READ_CODE"));
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 13, -1.0, "L:MISSING"));
  Stop("l:A");
  panels.Set("L:A", 1.0);
  EXPECT_EQ(After(250), kNoTimeout);
  EXPECT_TRUE(connection.Quiet());
  EXPECT_EQ(NewLines(), (Lines{"LVARHandler::StartMonitoring l:a (250): success",
                               "LVARHandler::ForceUpdate l:a = 0.500000 : success",
                               "LVARHandler::StartMonitoring L:A (0): success",
                               "LVARHandler::ForceUpdate L:A = 0.500000 : success",
                               "LVARHandler::StartMonitoring L:A (-20): success",
                               "LVARHandler::ForceUpdate L:A = 0.500000 : success", "L:A (0) = 0.750000",
                               "LVARHandler::Update::1",
                               "LVARHandler::SendToCLient(0000000d,-5.000000,MJC_VAR_READ_CODE)",
                               "LVARHandler::StartMonitoring MJC_VAR_READ_CODE : not supported",
                               "LVARHandler::SendToCLient(0000000d,-1.000000,L:MISSING)",
                               "LVARHandler::StartMonitoring L:MISSING : not found",
                               "LVARHandler::StopMonitoring l:A : success"}));
}

TEST_F(MonitoringTest, SetValueWritesKnownVariablesAndForceUpdateReportsEvenWithoutChangeOnceConnected) {
  // Before Connect only StopMonitoring answers.
  Start("L:B", 100.0);
  handler->SetValue(Request(records::kCommandSetValue, "L:B", 7.0));
  handler->ForceUpdate(Request(records::kCommandForceUpdate, "L:B"));
  EXPECT_EQ(After(100), kNoTimeout);
  Stop("L:NOPE");
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 13, -2.0, "L:NOPE"));
  EXPECT_EQ(panels.Value("L:B"), 0.0);
  EXPECT_EQ(NewLines(), (Lines{"LVARHandler::SendToCLient(0000000d,-2.000000,L:NOPE)",
                               "LVARHandler::StopMonitoring L:NOPE : not found"}));
  Connect();
  handler->SetValue(Request(records::kCommandSetValue, "l:b", 0.75));
  handler->SetValue(Request(records::kCommandSetValue, "L:SLATS", 2.0));
  EXPECT_EQ(panels.Value("L:B"), 0.75);
  for (const char* name : {"L:B", "L:B", "L:NONE"}) handler->ForceUpdate(Request(records::kCommandForceUpdate, name));
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(0.75, 0, "L:B"));
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(0.75, 0, "L:B"));
  EXPECT_TRUE(connection.Quiet());
  EXPECT_EQ(NewLines(), (Lines{"LVARHandler::SetValue l:b = 0.750000 : SUCCESS",
                               "LVARHandler::SetValue L:SLATS = 2.000000 : UNKNOWN LVAR",
                               "LVARHandler::ForceUpdate L:B = 0.750000 : success",
                               "LVARHandler::ForceUpdate L:B = 0.750000 : success",
                               "LVARHandler::ForceUpdate L:NONE : not found"}));
}

TEST_F(MonitoringTest, AChangeIsAMoveOfAtLeastTheThresholdFromTheValueLastSent) {
  const double threshold = 0.01f;  // the single-precision 0.01, widened
  Connect();
  Start("L:A", 100.0);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(0.0, 0, "L:A"));
  panels.Set("L:A", std::nextafter(threshold, 0.0));
  After(100);
  panels.Set("L:A", -threshold);
  After(100);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(-threshold, 0, "L:A"));
  // Small drifts add up against the value last sent.
  for (double drift : {0.004, 0.008, 0.012}) {
    panels.Set("L:A", -threshold + drift);
    After(100);
  }
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(-threshold + 0.012, 0, "L:A"));
  // A NaN is no change; the next number is measured against what was sent.
  panels.Set("L:A", std::numeric_limits<double>::quiet_NaN());
  After(100);
  panels.Set("L:A", 0.5);
  After(100);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(0.5, 0, "L:A"));
  EXPECT_TRUE(connection.Quiet());
  EXPECT_EQ(NewLines(), (Lines{"LVARHandler::StartMonitoring L:A (100): success",
                               "LVARHandler::ForceUpdate L:A = 0.000000 : success", "L:A (0) = -0.010000",
                               "LVARHandler::Update::1", "L:A (0) = 0.002000", "LVARHandler::Update::1",
                               "L:A (0) = 0.500000", "LVARHandler::Update::1"}));
}

TEST_F(MonitoringTest, OnlyDueEntriesAreReadAndAnOverdueOneWaitsAFullInterval) {
  Connect();
  Start("L:A", 100.0);
  AdvanceTick(60);
  Start("L:B", 50.0);
  NextRecord(kVarDataArea);
  NextRecord(kVarDataArea);
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

TEST_F(MonitoringTest, TheStopFlagEndsThePassAfterAnyReadTheStopEventOnceTheTickMoved) {
  Connect();
  for (const char* name : {"L:A", "L:B", "L:C"}) {
    Start(name, 100.0);
    NextRecord(kVarDataArea);
    panels.Set(name, 1.0);
  }
  NewLines();
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

  // The Stop event (set from outside through its name) costs a round trip to
  // the system: tested after a pass's first due read, then once the tick moved.
  HANDLE stop = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  bridge::workerHandles.stopEvent = stop;
  reads = panels.reads;
  EXPECT_EQ(After(100), kNoTimeout);
  EXPECT_EQ(panels.reads, reads + 1);
  ResetEvent(stop);
  panels.beforeRead = [stop](int32_t id) {
    if (id == 1) SetEvent(stop);
  };
  EXPECT_EQ(After(100), 100u);
  EXPECT_EQ(panels.reads, reads + 4);
  ResetEvent(stop);
  panels.beforeRead = [stop](int32_t id) {
    if (id == 1) {
      SetEvent(stop);
      AdvanceTick(1);
    }
  };
  EXPECT_EQ(After(100), kNoTimeout);
  EXPECT_EQ(panels.reads, reads + 6);
  bridge::workerHandles.stopEvent = INVALID_HANDLE_VALUE;
  CloseHandle(stop);
}

TEST_F(MonitoringTest, SixtySecondsWithoutARequestForgetTheApplicationUntilItConnectsAgain) {
  Connect();
  Start("L:A", 100.0);
  NextRecord(kVarDataArea);
  NewLines();
  handler->Heartbeat();
  SetTick(70000);
  EXPECT_EQ(handler->Update(), 100u);
  SetTick(70001);
  EXPECT_EQ(handler->Update(), kNoTimeout);
  EXPECT_EQ(After(500), kNoTimeout);  // again at every pass until a request comes
  Start("L:A", 100.0);
  panels.Set("L:A", 3.0);
  handler->Heartbeat();
  EXPECT_EQ(handler->Update(), kNoTimeout);
  EXPECT_TRUE(connection.Quiet());
  EXPECT_EQ(NewLines(), (Lines{"Check for new LVARS", "No heartbeat for 60001 from application. resetting.",
                               "No heartbeat for 60501 from application. resetting."}));
  Connect(5);  // the same peer is answered again
}

TEST_F(MonitoringTest, TheRegistryIsRescannedWhenMoreThan30SecondsHavePassed) {
  Connect();
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

}  // namespace
