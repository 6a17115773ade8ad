// Update: the change threshold, intervals and the wait, the heartbeat, the
// periodic rescan and the Stop event.
#include <cmath>
#include <limits>

#include "handler_fixture.h"

namespace {

class UpdateTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    panels.Put(0, "L:A", 0.0);
    panels.Put(1, "L:B", 0.0);
    panels.Put(2, "L:C", 0.0);
    handler.ScanLVARS(false, false);
    ConnectApp();
    TakeLines();
  }
  // Moves the tick on and runs one pass.
  uint32_t After(uint32_t ms) {
    lvar_test::AdvanceTick(ms);
    return handler.Update();
  }
};

TEST_F(UpdateTest, SmallDriftsAddUpAgainstTheLastSentValue) {
  Start("L:A", 100.0);
  TakeLines();
  for (double v : {0.004, 0.008}) {
    panels.SetValue("L:A", v);
    EXPECT_EQ(After(100), 100u);
  }
  EXPECT_EQ(TakeLines(), Lines{});
  panels.SetValue("L:A", 0.012);
  After(100);
  EXPECT_EQ(TakeLines(), (Lines{"L:A (0) = 0.012000", "LVARHandler::Update::1"}));
  EXPECT_EQ(Entry("L:A").lastSentValue, 0.012);

  // Exactly the threshold is a change; just below it is not.
  Entry("L:A").lastSentValue = 0.0;
  panels.SetValue("L:A", std::nextafter(kChangeThreshold, 0.0));
  After(100);
  EXPECT_EQ(TakeLines(), Lines{});
  panels.SetValue("L:A", -kChangeThreshold);
  After(100);
  EXPECT_EQ(TakeLines(), (Lines{"L:A (0) = -0.010000", "LVARHandler::Update::1"}));
  EXPECT_EQ(kChangeThreshold, static_cast<double>(0.01f));
}

TEST_F(UpdateTest, ANaNIsNeverAChange) {
  Start("L:A", 100.0);
  TakeLines();
  panels.SetValue("L:A", std::numeric_limits<double>::quiet_NaN());
  After(100);
  After(100);
  EXPECT_EQ(TakeLines(), Lines{});
  EXPECT_TRUE(std::isnan(Entry("L:A").value));
  EXPECT_EQ(Entry("L:A").lastSentValue, 0.0);
  // Back to a number: measured against what was last sent.
  panels.SetValue("L:A", 0.5);
  After(100);
  EXPECT_EQ(TakeLines(), (Lines{"L:A (0) = 0.500000", "LVARHandler::Update::1"}));
}

TEST_F(UpdateTest, OnlyDueEntriesAreReadAndTheWaitIsTheSoonestDue) {
  EXPECT_EQ(handler.Update(), kNoTimeout);  // nothing monitored
  Start("L:A", 100.0);
  Start("L:B", 250.0);
  TakeLines();
  const int readsBefore = panels.reads;

  EXPECT_EQ(handler.Update(), 100u);
  EXPECT_EQ(After(40), 60u);
  EXPECT_EQ(panels.reads, readsBefore);
  EXPECT_EQ(After(60), 100u);  // A read at +100; B due at +250
  EXPECT_EQ(panels.reads, readsBefore + 1);
  EXPECT_EQ(After(100), 50u);  // A read at +200; B due in 50
  EXPECT_EQ(After(50), 50u);   // B read at +250; A due at +300
  EXPECT_EQ(panels.reads, readsBefore + 3);
  EXPECT_EQ(Entry("L:A").lastUpdateTick, kStartTick + 200);
  EXPECT_EQ(Entry("L:B").lastUpdateTick, kStartTick + 250);

  handler.StopMonitoring(Request(records::kCommandStopMonitoring, "L:A"));
  handler.StopMonitoring(Request(records::kCommandStopMonitoring, "L:B"));
  EXPECT_EQ(After(1000), kNoTimeout);
  EXPECT_EQ(panels.reads, readsBefore + 3);
}

TEST_F(UpdateTest, AnEntryOverdueWhenTheWaitIsComputedCountsItsFullInterval) {
  Start("L:A", 100.0);
  Start("L:B", 50.0);
  // At the pass's start (+90) A is due and B is not; reading A takes 20 ms,
  // after which B is 5 ms overdue: it contributes its 50, not 0 or a wrapped
  // difference.
  Entry("L:A").lastUpdateTick = kStartTick - 10;
  Entry("L:B").lastUpdateTick = kStartTick + 45;
  panels.beforeRead = [](int32_t id) {
    if (id == 0) lvar_test::AdvanceTick(20);
  };
  EXPECT_EQ(After(90), 50u);
  EXPECT_EQ(Entry("L:B").lastUpdateTick, kStartTick + 45);
}

TEST_F(UpdateTest, AChangedEntryIsDueBeforeItsInterval) {
  Start("L:A", 1000.0);
  Entry("L:A").changed = true;
  Entry("L:A").value = 3.0;
  panels.SetValue("L:A", 4.0);
  TakeLines();
  After(1);
  EXPECT_EQ(TakeLines(), (Lines{"L:A (0) = 4.000000", "LVARHandler::Update::1"}));
}

TEST_F(UpdateTest, WhileDisconnectedChangesAreCountedButNotWritten) {
  Start("L:A", 100.0);
  handler.connected = false;
  panels.SetValue("L:A", 1.0);
  TakeLines();
  After(100);
  EXPECT_EQ(TakeLines(), (Lines{"L:A (0) = 1.000000", "LVARHandler::Update::1"}));
  EXPECT_EQ(Entry("L:A").lastSentValue, 1.0);
}

TEST_F(UpdateTest, HeartbeatTimeoutForgetsTheApplicationUntilItsNextRequest) {
  Start("L:A", 100.0);
  Start("L:B", 100.0);
  TakeLines();
  lvar_test::SetTick(kStartTick + 60000);
  EXPECT_EQ(handler.Update(), 100u);  // 60000 is not more than 60000
  TakeLines();

  lvar_test::SetTick(kStartTick + 60001);
  handler.lastScanTick = kStartTick - 40000;  // a rescan would be due
  EXPECT_EQ(handler.Update(), kNoTimeout);
  EXPECT_EQ(After(500), kNoTimeout);
  EXPECT_EQ(TakeLines(), (Lines{"No heartbeat for 60001 from application. resetting.",
                                "No heartbeat for 60501 from application. resetting."}));
  EXPECT_FALSE(handler.connected);
  EXPECT_EQ(handler.peerId, 0xFFFFFFFFu);
  EXPECT_FALSE(Entry("L:A").monitored);
  EXPECT_FALSE(Entry("L:B").monitored);
  EXPECT_EQ(handler.lastHeartbeatTick, kStartTick);
  EXPECT_EQ(handler.lastScanTick, kStartTick - 40000);

  // Any request counts; the rescan that was held back runs at once.
  handler.Heartbeat();
  EXPECT_EQ(handler.Update(), kNoTimeout);
  EXPECT_EQ(TakeLines(), Lines{"Check for new LVARS"});
  EXPECT_EQ(handler.lastScanTick, kStartTick + 60501);
}

TEST_F(UpdateTest, RescanRunsWhenMoreThan30SecondsHavePassed) {
  panels.Put(3, "L:LATE", 2.5);
  handler.Heartbeat();
  EXPECT_EQ(After(30000), kNoTimeout);
  EXPECT_EQ(TakeLines(), Lines{});
  handler.Heartbeat();
  After(1);
  EXPECT_EQ(TakeLines(), (Lines{"Check for new LVARS", "LVARHandler::SendToCLient(0000000c,2.500000,L:LATE)",
                                "1 Changes 1 added 0 deleted (Total Vars 4)"}));
  EXPECT_EQ(handler.lastScanTick, kStartTick + 30001);

  // A fresh handler rescans on its first pass once the tick is past 30000.
  LVARHandler fresh;
  fresh.lastHeartbeatTick = lvar_test::Tick();
  fresh.Update();
  EXPECT_EQ(fresh.registry.size(), 4u);
  LVARHandler early;
  lvar_test::SetTick(30000);
  early.lastHeartbeatTick = 30000;
  early.Update();
  EXPECT_EQ(early.registry.size(), 0u);
}

TEST_F(UpdateTest, StopEventEndsThePassAfterTheFirstDueRead) {
  Start("L:A", 100.0);
  Start("L:B", 100.0);
  panels.SetValue("L:A", 1.0);
  panels.SetValue("L:B", 1.0);
  TakeLines();
  HANDLE stop = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  lvar_test::SetStopEvent(stop);
  const int readsBefore = panels.reads;
  handler.lastScanTick = 0;  // a rescan would be due
  EXPECT_EQ(After(100), kNoTimeout);
  EXPECT_EQ(panels.reads, readsBefore + 1);
  EXPECT_TRUE(Entry("L:A").changed);  // read, not reported
  EXPECT_EQ(TakeLines(), Lines{});

  ResetEvent(stop);
  EXPECT_EQ(handler.Update(), 100u);
  EXPECT_EQ(TakeLines(), (Lines{"L:A (0) = 1.000000", "L:B (1) = 1.000000", "Check for new LVARS",
                                "LVARHandler::Update::2"}));
  lvar_test::SetStopEvent(nullptr);
  CloseHandle(stop);
}

TEST_F(UpdateTest, AStopDuringAPassMakesTheReadInProgressTheLast) {
  Start("L:A", 100.0);
  Start("L:B", 100.0);
  Start("L:C", 100.0);
  for (const char* name : {"L:A", "L:B", "L:C"}) panels.SetValue(name, 1.0);
  TakeLines();
  handler.lastScanTick = 0;  // a rescan would be due

  // DLLStop's flag, raised while B is read with the tick held: A went out, B
  // is read but not reported, C is not read, no rescan and no summary line.
  panels.beforeRead = [](int32_t id) {
    if (id == 1) lvar_test::SetStopFlag(true);
  };
  const int readsBefore = panels.reads;
  EXPECT_EQ(After(100), kNoTimeout);
  EXPECT_EQ(panels.reads, readsBefore + 2);
  EXPECT_EQ(TakeLines(), Lines{"L:A (0) = 1.000000"});
  EXPECT_TRUE(Entry("L:B").changed);
  EXPECT_EQ(Entry("L:C").lastUpdateTick, kStartTick);
  lvar_test::SetStopFlag(false);
  handler.lastScanTick = lvar_test::Tick();

  // The Stop event set from outside is tested only once the tick has moved:
  // set while B is read within the tick of the test after A, C is still read;
  // with a millisecond passing, C is not read.
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  lvar_test::SetStopEvent(stop);
  panels.beforeRead = [stop](int32_t id) {
    if (id == 1) SetEvent(stop);
  };
  EXPECT_EQ(After(100), 100u);
  EXPECT_EQ(panels.reads, readsBefore + 5);
  ResetEvent(stop);
  panels.beforeRead = [stop](int32_t id) {
    if (id == 1) {
      SetEvent(stop);
      lvar_test::AdvanceTick(1);
    }
  };
  EXPECT_EQ(After(100), kNoTimeout);
  EXPECT_EQ(panels.reads, readsBefore + 7);
  EXPECT_EQ(Entry("L:C").lastUpdateTick, kStartTick + 200);
  lvar_test::SetStopEvent(nullptr);
  CloseHandle(stop);
}

TEST_F(UpdateTest, WithoutPanelsUpdateWaitsWithoutLimit) {
  Start("L:A", 100.0);
  TakeLines();
  Panels = nullptr;
  EXPECT_EQ(After(100), kNoTimeout);
  EXPECT_EQ(TakeLines(), Lines{"NO PANELS, no fish and no chips!"});
}

}  // namespace
