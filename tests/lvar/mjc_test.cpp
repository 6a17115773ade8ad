// The MJC handshake with an aircraft that offers it: reads and writes through
// the four handshake variables, their answers, time-outs and failures.
#include "linked_bridge.h"

namespace {

using namespace linked_bridge;

class MjcTest : public LinkedBridgeTest {
 protected:
  void SetUp() override {
    LinkedBridgeTest::SetUp();
    panels.EnableMjc();
    panels.mjcValues[42] = 5.5;
    panels.onMjcPoll = [] { AdvanceTick(10); };
    handler->ScanLVARS(false, false);
    Connect();
  }
  void Set(const char* name, double value, uint32_t code) {
    handler->SetValue(Request(records::kCommandSetValue, name, value, code));
  }
};

TEST_F(MjcTest, AReadWritesTheCodeAndTakesReadValueOnceTheAircraftIsDone) {
  Start("MJC PUMP", 0.0, 42);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(5.5, 1, "MJC PUMP"));
  // Within the threshold of the value sent: no report. A done code counts by
  // its integer part.
  panels.mjcValues[42] = 5.505;
  panels.mjcReadDone = 9991999.5;
  EXPECT_EQ(After(1000), 1000u);
  // The aircraft knows no such code: monitoring ends at once; the first
  // report goes out whatever the read gave.
  Start("MJC MISSING", 0.0, 43);
  EXPECT_EQ(NextRecord(kVarDataArea), VarData(0.0, 1, "MJC MISSING"));
  const int reads = panels.reads;
  EXPECT_EQ(After(1), 979u);
  EXPECT_EQ(panels.reads, reads);
  EXPECT_TRUE(connection.Quiet());
  EXPECT_EQ(NewLines(), (Lines{"LVARHandler::StartMonitoring MJC PUMP (0) : success",
                               "MJC: MJC PUMP update took 20 new val 5.500000",
                               "LVARHandler::ForceUpdate MJC PUMP = 5.500000 : success",
                               "LVARHandler::StartMonitoring MJC MISSING (0) : success",
                               "MJC: MJC MISSING (43) data not found!",
                               "LVARHandler::ForceUpdate MJC MISSING = 0.000000 : success"}));

  // MJC entries stand in rescans while the aircraft offers the handshake.
  handler->ScanLVARS(true, false);
  panels.Remove("MJC_VAR_READ_VALUE");
  handler->ScanLVARS(true, false);
  EXPECT_EQ(NewLines(), (Lines{"MJC_VAR_READ_VALUE = 60000", "MJC_VAR_READ_CODE = 60001",
                               "MJC_VAR_WRITE_VALUE = 60002", "MJC_VAR_WRITE_CODE = 60003",
                               "MJC PUMP no longer exists. Removing.", "MJC MISSING no longer exists. Removing.",
                               "2 Changes 0 added 2 deleted (Total Vars 0)"}));
}

TEST_F(MjcTest, ThreeTimeOutsInARowAreToleratedTheFourthEndsMonitoring) {
  Start("MJC PUMP", 0.0, 42);
  NextRecord(kVarDataArea);
  NewLines();
  panels.onMjcPoll = [] { AdvanceTick(100); };
  panels.mjcReadDone = 0.0;  // ends no read: it times out
  for (int i = 0; i < 2; ++i) EXPECT_EQ(After(1000), kNoTimeout);
  panels.mjcReadDone = FakePanels::kMjcDone;
  EXPECT_EQ(After(1000), 1000u);  // a success starts the count again
  panels.mjcSilent = true;
  for (int i = 0; i < 4; ++i) After(1000);
  const int reads = panels.reads;
  After(1000);
  EXPECT_EQ(panels.reads, reads);
  EXPECT_TRUE(connection.Quiet());
  EXPECT_EQ(NewLines(), (Lines{"MJC: MJC PUMP (42) Timeout (1)!", "MJC: MJC PUMP (42) Timeout (2)!",
                               "MJC: MJC PUMP (42) Timeout (1)!", "MJC: MJC PUMP (42) Timeout (2)!",
                               "MJC: MJC PUMP (42) Timeout (3)!", "MJC: MJC PUMP (42) Timeout (4)!"}));
}

TEST_F(MjcTest, AWriteSetsTheValueThenTheCodeAndEndsOnDoneOrZero) {
  Set("MJC PUMP", 7.5, 42);
  EXPECT_EQ(panels.mjcValues[42], 7.5);
  panels.mjcWriteDone = 0.0;
  Set("MJC PUMP", 8.0, 42);
  EXPECT_EQ(panels.mjcValues[42], 8.0);
  Set("MJC GONE", 1.0, 44);
  panels.onMjcPoll = [] { AdvanceTick(100); };
  panels.mjcSilent = true;
  Set("MJC PUMP", 9.0, 42);
  EXPECT_TRUE(connection.Quiet());
  EXPECT_EQ(NewLines(), (Lines{"LVARHandler::SetValue MJC PUMP = 7.500000 : SUCCESS",
                               "LVARHandler::SetValue MJC PUMP = 8.000000 : SUCCESS",
                               "MJC: MJC GONE (44) data not found!", "MJC: MJC PUMP (42) Timeout writing value!"}));

  // Without WRITE_VALUE the aircraft takes no writes.
  panels.Remove("MJC_VAR_WRITE_VALUE");
  handler->ScanLVARS(true, false);
  Set("MJC PUMP", 1.0, 42);
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 13, -2.0, "MJC PUMP"));
  EXPECT_EQ(panels.mjcValues[42], 8.0);
}

}  // namespace
