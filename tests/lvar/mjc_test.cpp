// The MJC handshake: reads and writes through the aircraft's four handshake
// variables, their answers, time-outs and failure rules.
#include "handler_fixture.h"
#include "mjc_aircraft.h"

namespace {

class MjcTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    panels.Put(0, "L:PLAIN", 1.0);
    aircraft.values[42] = 5.5;
    handler.ScanLVARS(false, false);
    ConnectApp();
    TakeLines();
  }
  // An MJC entry for code 42 as StartMonitoring makes it, without its first read.
  LVAREntry& AddEntry(uint32_t code = 42, const char* name = "MJC PUMP") {
    auto entry = std::make_unique<LVAREntry>();
    entry->id = entry->mjcCode = code;
    entry->SetName(name);
    entry->monitored = true;
    return handler.registry.Append(std::move(entry));
  }
  void Set(const char* name, double value, uint32_t code) {
    handler.SetValue(Request(records::kCommandSetValue, name, value, code));
  }

  MjcAircraft aircraft{panels};
};

TEST_F(MjcTest, ReadWritesTheCodeAndTakesTheValueOnceDone) {
  LVAREntry& entry = AddEntry();
  aircraft.answerAfterPolls = 2;
  ASSERT_TRUE(handler.ReadMJCValue(entry));
  EXPECT_EQ(aircraft.handshakeWrites, (std::vector<std::pair<int32_t, double>>{{aircraft.readCodeId, 42.0}}));
  EXPECT_EQ(entry.value, 5.5);
  EXPECT_TRUE(entry.changed);
  EXPECT_EQ(entry.lastUpdateTick, kStartTick + 30);
  EXPECT_EQ(TakeLines(), Lines{"MJC: MJC PUMP update took 30 new val 5.500000"});

  // Within the threshold of the value last sent: no change, no line.
  entry.changed = false;
  entry.lastSentValue = 5.5;
  aircraft.values[42] = 5.505;
  aircraft.readDoneCode = 9991999.5;  // counts by its integer part
  ASSERT_TRUE(handler.ReadMJCValue(entry));
  EXPECT_EQ(entry.value, 5.505);
  EXPECT_FALSE(entry.changed);
  EXPECT_EQ(TakeLines(), Lines{});
}

TEST_F(MjcTest, UpdateReportsMjcEntriesAsMjcVariables) {
  LVAREntry& entry = AddEntry();
  entry.lastUpdateTick = kStartTick - 1000;
  EXPECT_EQ(handler.Update(), 1000u);
  EXPECT_EQ(entry.lastSentValue, 5.5);
  EXPECT_EQ(TakeLines(), (Lines{"MJC: MJC PUMP update took 20 new val 5.500000", "MJC PUMP (42) = 5.500000",
                                "LVARHandler::Update::1"}));
}

TEST_F(MjcTest, DataNotFoundEndsMonitoringAtOnce) {
  LVAREntry& entry = AddEntry(43, "MJC MISSING");
  entry.value = 2.0;
  entry.changed = true;
  EXPECT_EQ(handler.Update(), kNoTimeout);  // a failed read adds nothing to the wait
  EXPECT_FALSE(entry.monitored);
  EXPECT_FALSE(entry.changed);
  EXPECT_EQ(entry.lastSentValue, 2.0);
  EXPECT_EQ(TakeLines(), Lines{"MJC: MJC MISSING (43) data not found!"});
}

TEST_F(MjcTest, TheFourthTimeoutInARowEndsMonitoring) {
  LVAREntry& entry = AddEntry();
  entry.value = 1.25;
  aircraft.readMode = MjcAircraft::Mode::Silent;
  aircraft.tickPerPoll = 100;  // a poll at +100, +200, +300: three reads, two pauses

  EXPECT_EQ(handler.Update(), kNoTimeout);
  EXPECT_EQ(handler.Update(), kNoTimeout);
  EXPECT_EQ(entry.mjcTimeouts, 2u);
  EXPECT_EQ(entry.lastSentValue, 1.25);
  aircraft.readMode = MjcAircraft::Mode::Answer;  // one success in between
  EXPECT_EQ(handler.Update(), 1000u);
  EXPECT_EQ(entry.mjcTimeouts, 0u);
  aircraft.readMode = MjcAircraft::Mode::Silent;
  entry.lastUpdateTick -= 1000;
  for (int i = 0; i < 3; ++i) handler.Update();
  EXPECT_TRUE(entry.monitored);
  EXPECT_EQ(entry.mjcTimeouts, 3u);
  handler.Update();
  EXPECT_FALSE(entry.monitored);
  EXPECT_EQ(TakeLines(), (Lines{"MJC: MJC PUMP (42) Timeout (1)!", "MJC: MJC PUMP (42) Timeout (2)!",
                                "MJC: MJC PUMP update took 200 new val 5.500000", "MJC PUMP (42) = 5.500000",
                                "LVARHandler::Update::1", "MJC: MJC PUMP (42) Timeout (1)!",
                                "MJC: MJC PUMP (42) Timeout (2)!", "MJC: MJC PUMP (42) Timeout (3)!",
                                "MJC: MJC PUMP (42) Timeout (4)!"}));
  const int readsBefore = panels.reads;
  handler.Update();
  EXPECT_EQ(panels.reads, readsBefore);
}

TEST_F(MjcTest, WritesEndOnZeroOrDoneAndFailOnlyInTheLog) {
  Set("MJC PUMP", 7.5, 42);
  EXPECT_EQ(aircraft.values[42], 7.5);
  // The value first, the code second.
  EXPECT_EQ(aircraft.handshakeWrites, (std::vector<std::pair<int32_t, double>>{{aircraft.writeValueId, 7.5},
                                                                              {aircraft.writeCodeId, 42.0}}));
  aircraft.writeDoneCode = 0.0;  // ends a write, though it would not end a read
  Set("MJC PUMP", 8.0, 42);
  EXPECT_EQ(aircraft.values[42], 8.0);
  EXPECT_EQ(TakeLines(), (Lines{"LVARHandler::SetValue MJC PUMP = 7.500000 : SUCCESS",
                                "LVARHandler::SetValue MJC PUMP = 8.000000 : SUCCESS"}));
  EXPECT_EQ(handler.registry.size(), 1u);  // a write needs no entry and makes none

  Set("MJC GONE", 1.0, 44);
  aircraft.writeMode = MjcAircraft::Mode::Silent;
  aircraft.tickPerPoll = 100;
  Set("MJC PUMP", 9.0, 42);
  EXPECT_EQ(TakeLines(), (Lines{"MJC: MJC GONE (44) data not found!", "MJC: MJC PUMP (42) Timeout writing value!"}));
}

TEST_F(MjcTest, WriteWithoutTheHandshakeIsRefused) {
  panels.Remove("MJC_VAR_WRITE_VALUE");
  handler.ScanLVARS(true, false);
  ASSERT_EQ(handler.mjcWriteValueId, -1);
  TakeLines();
  const int writesBefore = panels.writes;
  Set("MJC PUMP", 1.0, 42);
  EXPECT_EQ(panels.writes, writesBefore);
  EXPECT_EQ(TakeLines(), (Lines{"LVARHandler::SetValue MJC PUMP : NO MJC SUPPORT",
                                "LVARHandler::SendToCLient(0000000d,-2.000000,MJC PUMP)"}));
}

TEST_F(MjcTest, ReadWithoutPanelsFails) {
  LVAREntry& entry = AddEntry();
  Panels = nullptr;
  EXPECT_FALSE(handler.ReadMJCValue(entry));
  EXPECT_EQ(TakeLines(), Lines{"NO PANELS, no fish and no chips!"});
}

}  // namespace
