// The application's requests: start and stop monitoring, set, force, connect;
// and the change of aircraft.
#include <string>

#include "handler_fixture.h"
#include "mjc_aircraft.h"

namespace {

class MonitoringTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    panels.Put(0, "L:GEAR", 1.0);
    panels.Put(1, "L:FLAPS", 0.25);
    handler.ScanLVARS(false, false);
    TakeLines();
  }
};

TEST_F(MonitoringTest, NothingNeedingAConnectionHappensBeforeConnect) {
  Start("L:GEAR", 100.0);
  handler.SetValue(Request(records::kCommandSetValue, "L:GEAR", 7.0));
  handler.ForceUpdate(Request(records::kCommandForceUpdate, "L:GEAR"));
  handler.SendLVARS();
  EXPECT_FALSE(Entry("L:GEAR").monitored);
  EXPECT_EQ(panels.Value("L:GEAR"), 1.0);
  EXPECT_EQ(panels.writes, 0);
  EXPECT_EQ(TakeLines(), Lines{"LVARHandler::SendLVARS"});

  // StopMonitoring answers whatever the state.
  handler.StopMonitoring(Request(records::kCommandStopMonitoring, "L:NOPE"));
  EXPECT_EQ(TakeLines(), (Lines{"LVARHandler::SendToCLient(0000000d,-2.000000,L:NOPE)",
                                "LVARHandler::StopMonitoring L:NOPE : not found"}));
}

TEST_F(MonitoringTest, ConnectRepliesOncePerPeer) {
  ConnectApp(5);
  EXPECT_TRUE(handler.connected);
  EXPECT_EQ(handler.peerId, 5u);
  ConnectApp(5);
  handler.Connect(records::MakeHostRequest(0xABCDEF01, records::kCommandConnect, 6, "", 0.0));
  EXPECT_EQ(handler.peerId, 6u);
  // The Connect reply's result is not reported: no CheckResult lines.
  EXPECT_EQ(lvar_test::LogLines(), (Lines{"LVARHandler::Connect 00001234", "LVARHandler::Connect 00001234",
                                          "Already connected.", "LVARHandler::Connect abcdef01"}));
}

TEST_F(MonitoringTest, StartMonitoringKnownUnknownReservedAndIntervals) {
  ConnectApp();
  TakeLines();
  panels.SetValue("L:GEAR", 0.5);
  Start("l:gear", 250.9);  // case ignored, interval truncated
  EXPECT_TRUE(Entry("L:GEAR").monitored);
  EXPECT_EQ(Entry("L:GEAR").intervalMs, 250u);
  EXPECT_EQ(Entry("L:GEAR").lastSentValue, 0.5);
  EXPECT_EQ(Entry("L:GEAR").lastUpdateTick, kStartTick);
  EXPECT_FALSE(Entry("L:GEAR").changed);
  EXPECT_EQ(TakeLines(), (Lines{"LVARHandler::StartMonitoring l:gear (250): success",
                                "LVARHandler::ForceUpdate l:gear = 0.500000 : success"}));

  Start("L:GEAR", 0.0);  // 0 or less keeps the interval
  Start("L:GEAR", -20.0);
  EXPECT_EQ(Entry("L:GEAR").intervalMs, 250u);
  EXPECT_EQ(TakeLines(), (Lines{"LVARHandler::StartMonitoring L:GEAR (0): success",
                                "LVARHandler::ForceUpdate L:GEAR = 0.500000 : success",
                                "LVARHandler::StartMonitoring L:GEAR (-20): success",
                                "LVARHandler::ForceUpdate L:GEAR = 0.500000 : success"}));

  Start("MJC_VAR_READ_CODE", 100.0, 7);
  Start("L:MISSING", 100.0);
  Start("", 100.0);
  EXPECT_EQ(TakeLines(), (Lines{"LVARHandler::SendToCLient(0000000d,-5.000000,MJC_VAR_READ_CODE)",
                                "LVARHandler::StartMonitoring MJC_VAR_READ_CODE : not supported",
                                "LVARHandler::SendToCLient(0000000d,-1.000000,L:MISSING)",
                                "LVARHandler::StartMonitoring L:MISSING : not found"}));
  EXPECT_EQ(handler.registry.size(), 2u);

  handler.StopMonitoring(Request(records::kCommandStopMonitoring, "L:GEAR"));
  EXPECT_FALSE(Entry("L:GEAR").monitored);
  EXPECT_EQ(TakeLines(), Lines{"LVARHandler::StopMonitoring L:GEAR : success"});
}

TEST_F(MonitoringTest, StartMonitoringWithAnMjcCodeCreatesAnMjcEntry) {
  MjcAircraft aircraft(panels);
  aircraft.values[4711] = 3.5;
  handler.ScanLVARS(true, false);
  ConnectApp();
  TakeLines();

  Start("FUEL PUMP", 0.0, 4711);
  LVAREntry& pump = Entry("FUEL PUMP");
  EXPECT_EQ(handler.registry.size(), 3u);
  EXPECT_EQ(&handler.registry[2], &pump);
  EXPECT_EQ(pump.id, 4711u);
  EXPECT_EQ(pump.mjcCode, 4711u);
  EXPECT_TRUE(pump.monitored);
  EXPECT_EQ(pump.intervalMs, 1000u);
  EXPECT_EQ(pump.value, 3.5);
  EXPECT_EQ(pump.lastSentValue, 3.5);
  EXPECT_EQ(TakeLines(), (Lines{"LVARHandler::StartMonitoring FUEL PUMP (0) : success",
                                "MJC: FUEL PUMP update took 20 new val 3.500000",
                                "LVARHandler::ForceUpdate FUEL PUMP = 3.500000 : success"}));

  Start("HYD PUMP", 500.0, 4712);
  EXPECT_EQ(Entry("HYD PUMP").intervalMs, 500u);
}

TEST_F(MonitoringTest, SetValueWritesKnownLvarsOnly) {
  ConnectApp();
  TakeLines();
  handler.SetValue(Request(records::kCommandSetValue, "l:flaps", 0.75));
  handler.SetValue(Request(records::kCommandSetValue, "L:SLATS", 2.0));
  EXPECT_EQ(panels.Value("L:FLAPS"), 0.75);
  EXPECT_EQ(panels.writes, 1);
  // The entry is left alone; it reports the new value at its own next read.
  EXPECT_EQ(Entry("L:FLAPS").value, 0.25);
  EXPECT_EQ(TakeLines(), (Lines{"LVARHandler::SetValue l:flaps = 0.750000 : SUCCESS",
                                "LVARHandler::SetValue L:SLATS = 2.000000 : UNKNOWN LVAR"}));

  // An MJC entry named without its code is not written.
  auto mjc = std::make_unique<LVAREntry>();
  mjc->id = mjc->mjcCode = 12;
  mjc->SetName("MJC THING");
  handler.registry.Append(std::move(mjc));
  handler.SetValue(Request(records::kCommandSetValue, "MJC THING", 1.0));
  EXPECT_EQ(panels.writes, 1);
  EXPECT_EQ(TakeLines(), Lines{});
}

TEST_F(MonitoringTest, ForceUpdateReportsWhetherOrNotAnythingChanged) {
  ConnectApp();
  TakeLines();
  lvar_test::AdvanceTick(5);
  handler.ForceUpdate(Request(records::kCommandForceUpdate, "L:FLAPS"));
  handler.ForceUpdate(Request(records::kCommandForceUpdate, "L:FLAPS"));
  handler.ForceUpdate(Request(records::kCommandForceUpdate, "L:NONE"));
  EXPECT_EQ(Entry("L:FLAPS").lastUpdateTick, kStartTick + 5);
  EXPECT_FALSE(Entry("L:FLAPS").monitored);
  EXPECT_EQ(TakeLines(), (Lines{"LVARHandler::ForceUpdate L:FLAPS = 0.250000 : success",
                                "LVARHandler::ForceUpdate L:FLAPS = 0.250000 : success",
                                "LVARHandler::ForceUpdate L:NONE : not found"}));
}

TEST_F(MonitoringTest, AircraftChangeRebuildsTheRegistry) {
  ConnectApp();
  Start("L:GEAR", 100.0);
  TakeLines();

  handler.OnAircraftTitle(nullptr);
  handler.OnAircraftTitle("");
  handler.OnAircraftTitle("aircraft not known");  // the initial title, other case
  EXPECT_EQ(TakeLines(), Lines{});
  EXPECT_TRUE(Entry("L:GEAR").monitored);

  panels.Put(2, "L:NEW_AIRCRAFT_VAR", 9.0);
  panels.Put(7, "MJC_VAR_READ_VALUE", 0.0);
  handler.OnAircraftTitle("Boeing 737-800");
  EXPECT_STREQ(handler.aircraftTitle, "Boeing 737-800");
  EXPECT_FALSE(Entry("L:GEAR").monitored);
  EXPECT_EQ(handler.registry.size(), 3u);
  EXPECT_EQ(TakeLines(), (Lines{"LVARHandler::Update Aircraft changed to 14 Boeing 737-800",
                                "MJC_VAR_READ_VALUE = 7", "MJC_VAR_READ_CODE = -1", "MJC_VAR_WRITE_VALUE = -1",
                                "MJC_VAR_WRITE_CODE = -1", "MJC_VAR_READ_VALUE = 7", "MJC_VAR_READ_CODE = -1",
                                "MJC_VAR_WRITE_VALUE = -1", "MJC_VAR_WRITE_CODE = -1",
                                "3 Changes 3 added 0 deleted (Total Vars 3)", "LVARHandler::SendAircraftName"}));

  handler.OnAircraftTitle("BOEING 737-800");
  EXPECT_EQ(TakeLines(), Lines{});

  // Titles are kept to 1000 characters; without panels a title is ignored.
  std::string longTitle(1200, 'T');
  handler.OnAircraftTitle(longTitle.c_str());
  EXPECT_EQ(std::string(handler.aircraftTitle), std::string(1000, 'T'));
  TakeLines();
  Panels = nullptr;
  handler.OnAircraftTitle("Cessna");
  EXPECT_EQ(TakeLines(), Lines{"No PANELS, no fish!"});
  EXPECT_EQ(std::string(handler.aircraftTitle), std::string(1000, 'T'));
}

TEST_F(MonitoringTest, NoAircraftNameIsSentWhileDisconnected) {
  handler.OnAircraftTitle("Airbus");
  EXPECT_FALSE(lvar_test::Logged("LVARHandler::SendAircraftName"));
  handler.SendAircraftName();  // on request it goes out, connected or not
  EXPECT_TRUE(lvar_test::Logged("LVARHandler::SendAircraftName"));
}

}  // namespace
