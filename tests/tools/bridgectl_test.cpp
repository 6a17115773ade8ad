// bridgectl.exe against simhost hosting the real TVOBridge64.dll: the list in
// several chunks, watch with real changes, set and get, unknown names, keys,
// attention, rescan, the menu's "Disable LVAR Access", an aircraft change seen
// by a running watch, and a watch that sees the simulator quit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "aircraft_generator.h"
#include "bridge_host.h"
#include "bridgectl_process.h"

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The number after `"value":` in a JSON line of watch.
double JsonValue(const std::string& line) {
  size_t at = line.find("\"value\":");
  return at == std::string::npos ? -1.0 : std::strtod(line.c_str() + at + 8, nullptr);
}

TEST(BridgectlTest, ListCollectsEveryChunkOfALargeAircraft) {
  // 1500 generated names of about 16 characters fill six chunks of the list.
  simhost::AircraftDescription aircraft = simhost::GenerateAircraft(1500, 7, false);
  BridgeHost host;
  ASSERT_TRUE(host.Start(aircraft));

  RunResult list = RunBridgectl("list --verbose");
  ASSERT_EQ(list.status, 0) << list.err;
  std::vector<std::string> lines = SplitLines(list.out);
  ASSERT_EQ(lines.size(), 1501u);
  EXPECT_EQ(lines.back(), "1500 variables");
  for (size_t i = 0; i < 1500; ++i) ASSERT_EQ(lines[i], aircraft.variables[i].name) << i;

  // As many chunks as the bridge logged writes of them.
  size_t chunks = CountLogLines("SimConnect: SendLVARSchunk ==> SUCCESS") +
                  CountLogLines("SimConnect: SendLVARrestChunk ==> SUCCESS");
  EXPECT_GE(chunks, 2u);
  EXPECT_NE(list.err.find("the list came in " + std::to_string(chunks) + " chunk(s)"), std::string::npos) << list.err;

  RunResult json = RunBridgectl("list --json");
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out.rfind("{\"count\":1500,\"total\":1500,\"names\":[\"" + aircraft.variables[0].name + "\",", 0),
            0u);
  EXPECT_EQ(json.out.substr(json.out.size() - 4), "\"]}\n");
}

TEST(BridgectlTest, WatchPrintsRealChangesAndStopsMonitoringWhenItEnds) {
  BridgeHost host;
  ASSERT_TRUE(host.Start(FastAircraft()));

  RunResult watch = RunBridgectl("watch RAMP_FAST@50 TOGGLE_FAST@50 --json --count 12");
  ASSERT_EQ(watch.status, 0) << watch.err;
  std::vector<std::string> lines = SplitLines(watch.out);
  ASSERT_EQ(lines.size(), 12u) << watch.out;
  std::set<double> ramp;
  std::string previousTime;
  for (const std::string& line : lines) {
    ASSERT_EQ(line.rfind("{\"time\":\"", 0), 0u) << line;
    EXPECT_TRUE(Contains(line, "\"name\":\"RAMP_FAST\"") || Contains(line, "\"name\":\"TOGGLE_FAST\"")) << line;
    EXPECT_TRUE(Contains(line, ",\"mjc\":false}")) << line;
    std::string time = line.substr(9, 23);
    EXPECT_GE(time, previousTime);
    previousTime = time;
    if (Contains(line, "RAMP_FAST")) ramp.insert(JsonValue(line));
  }
  // The ramp moves by some 25 per 50 ms: the reports carry different values.
  EXPECT_GE(ramp.size(), 3u);

  EXPECT_GE(CountLogLines("LVARHandler::StartMonitoring RAMP_FAST (50): success"), 1u);
  EXPECT_GE(CountLogLines("LVARHandler::StopMonitoring RAMP_FAST : success"), 1u);
  EXPECT_GE(CountLogLines("LVARHandler::StopMonitoring TOGGLE_FAST : success"), 1u);

  // Plain lines for a pipe: time, the name padded to the longest, the value.
  RunResult plain = RunBridgectl("watch TOGGLE_FAST@50 CONST_A --duration 1.5");
  ASSERT_EQ(plain.status, 0) << plain.err;
  std::vector<std::string> rows = SplitLines(plain.out);
  ASSERT_GE(rows.size(), 3u) << plain.out;
  bool sawConstant = false;
  for (const std::string& row : rows) {
    ASSERT_GE(row.size(), 28u) << row;
    EXPECT_EQ(row[2], ':');
    EXPECT_EQ(row[8], '.');
    if (row.substr(14) == "CONST_A      5") sawConstant = true;
    if (Contains(row, "TOGGLE_FAST")) {
      EXPECT_TRUE(row.substr(14) == "TOGGLE_FAST  0" || row.substr(14) == "TOGGLE_FAST  1") << row;
    }
  }
  EXPECT_TRUE(sawConstant) << plain.out;
}

TEST(BridgectlTest, SetWritesTheVariableAndGetReadsItBack) {
  BridgeHost host;
  ASSERT_TRUE(host.Start(FastAircraft()));

  RunResult set = RunBridgectl("set CONST_A 42.5");
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(set.out, "CONST_A = 5 -> 42.5\n");
  EXPECT_EQ(set.err, "");
  double value = 0.0;
  ASSERT_TRUE(host.host().Aircraft().Get("CONST_A", &value));
  EXPECT_EQ(value, 42.5);
  EXPECT_EQ(CountLogLines("LVARHandler::SetValue CONST_A = 42.500000 : SUCCESS"), 1u);

  // Names match without regard to case; the answer uses the aircraft's.
  RunResult get = RunBridgectl("get const_a SINE_SLOW");
  ASSERT_EQ(get.status, 0) << get.err;
  std::vector<std::string> lines = SplitLines(get.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "CONST_A = 42.5");
  EXPECT_EQ(lines[1].rfind("SINE_SLOW = ", 0), 0u);
  double sine = std::strtod(lines[1].c_str() + 12, nullptr);
  EXPECT_GE(sine, 40.0);
  EXPECT_LE(sine, 60.0);

  RunResult negative = RunBridgectl("set RAMP_FAST -3 --json");
  ASSERT_EQ(negative.status, 0) << negative.err;
  EXPECT_TRUE(Contains(negative.out, "\"name\":\"RAMP_FAST\"")) << negative.out;
  EXPECT_TRUE(Contains(negative.out, "\"value\":-3}")) << negative.out;
  // A set variable stops moving: a second read gives the same value.
  RunResult json = RunBridgectl("get ramp_fast --json");
  EXPECT_EQ(json.out, "{\"name\":\"RAMP_FAST\",\"value\":-3,\"mjc\":false}\n");
}

TEST(BridgectlTest, AnMjcWriteGoesThroughTheAircraftsHandshake) {
  // Code 2001 writes CONST_A; the handshake answers at once.
  simhost::AircraftDescription aircraft =
      FastAircraft("TVO Test Aircraft", "mjc handshake\nmjc code 2001 var CONST_A\n");
  ASSERT_EQ(aircraft.variables.size(), 8u) << aircraft.title;
  BridgeHost host;
  ASSERT_TRUE(host.Start(aircraft));

  RunResult set = RunBridgectl("set DOOR 7 --mjc 2001");
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(set.out, "sent DOOR = 7 to MJC code 2001\n");
  EXPECT_TRUE(WaitForLogLine("LVARHandler::SetValue DOOR = 7.000000 : SUCCESS"));
  double value = 0.0;
  ASSERT_TRUE(host.host().Aircraft().Get("CONST_A", &value));
  EXPECT_EQ(value, 7.0);
}

TEST(BridgectlTest, UnknownNamesAreOneLineErrors) {
  BridgeHost host;
  ASSERT_TRUE(host.Start(FastAircraft()));

  RunResult get = RunBridgectl("get NO_SUCH_VAR");
  EXPECT_EQ(get.status, 1);
  EXPECT_EQ(get.out, "");
  EXPECT_EQ(get.err, "bridgectl: unknown variable NO_SUCH_VAR\n");

  // The known one is printed, the unknown one fails the run.
  RunResult mixed = RunBridgectl("get CONST_A NO_SUCH_VAR");
  EXPECT_EQ(mixed.status, 1);
  EXPECT_EQ(mixed.out, "CONST_A = 5\n");
  EXPECT_EQ(mixed.err, "bridgectl: unknown variable NO_SUCH_VAR\n");

  RunResult set = RunBridgectl("set NO_SUCH_VAR 1");
  EXPECT_EQ(set.status, 1);
  EXPECT_EQ(set.err, "bridgectl: unknown variable NO_SUCH_VAR\n");
  EXPECT_EQ(CountLogLines("UNKNOWN LVAR"), 0u) << "no SetValue went out for it";

  // The bridge's refusal events (code 13) in plain words.
  RunResult watch = RunBridgectl("watch CONST_A NO_SUCH_VAR@100");
  EXPECT_EQ(watch.status, 1);
  EXPECT_EQ(watch.err, "bridgectl: unknown variable NO_SUCH_VAR\n");
  EXPECT_EQ(CountLogLines("LVARHandler::StartMonitoring NO_SUCH_VAR : not found"), 1u);
  EXPECT_TRUE(WaitForLogLine("LVARHandler::StopMonitoring CONST_A : success"));

  RunResult reserved = RunBridgectl("watch MJC_VAR_READ_CODE");
  EXPECT_EQ(reserved.status, 1);
  EXPECT_EQ(reserved.err,
            "bridgectl: MJC_VAR_READ_CODE: names that begin with MJC_VAR_ belong to the MJC handshake and cannot be "
            "monitored\n");

  RunResult mjc = RunBridgectl("set DOOR 1 --mjc 1001");
  EXPECT_EQ(mjc.status, 1);
  EXPECT_EQ(mjc.err, "bridgectl: the aircraft offers no MJC write handshake (DOOR)\n");
  EXPECT_EQ(CountLogLines("LVARHandler::SetValue DOOR : NO MJC SUPPORT"), 1u);
}

TEST(BridgectlTest, KeysAttentionRescanAndTheAccessSwitchOfTheMenu) {
  BridgeHost host;
  ASSERT_TRUE(host.Start(FastAircraft()));

  RunResult keys = RunBridgectl("keys 17,65");
  ASSERT_EQ(keys.status, 0) << keys.err;
  EXPECT_EQ(keys.out, "pressed 17 65\n");
  EXPECT_EQ(CountLogLines("SendKeys 17,65"), 1u);
  EXPECT_EQ(CountLogLines("KeyDown "), 2u);
  EXPECT_EQ(CountLogLines("KeyUp "), 2u);

  RunResult attention = RunBridgectl("attention");
  ASSERT_EQ(attention.status, 0) << attention.err;
  EXPECT_TRUE(host.console().WaitForLine("TAVO.quin needs your attention!"));

  RunResult title = RunBridgectl("title --json");
  ASSERT_EQ(title.status, 0) << title.err;
  EXPECT_EQ(title.out, "{\"title\":\"TVO Test Aircraft\"}\n");

  RunResult rescan = RunBridgectl("rescan");
  ASSERT_EQ(rescan.status, 0) << rescan.err;
  std::vector<std::string> lines = SplitLines(rescan.out);
  ASSERT_EQ(lines.size(), 5u) << rescan.out;
  EXPECT_EQ(lines[0], "CONST_A = 5");
  EXPECT_EQ(lines[1].rfind("RAMP_FAST = ", 0), 0u);
  EXPECT_EQ(lines[4], "the bridge rebuilt its list: 4 variables");

  // With LVAR access disabled the bridge answers nothing, Connect included.
  ASSERT_TRUE(host.host().Core().ChooseMenuItem("TAVO.quin/Disable LVAR Access"));
  ASSERT_TRUE(host.console().WaitForLine("TAVO.quin: LVAR access disabled"));
  RunResult refused = RunBridgectl("get CONST_A --timeout 1500");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err,
            "bridgectl: the bridge did not answer Connect within 1500 ms (is TVOBridge64.dll loaded, and LVAR access "
            "enabled in the simulator's TAVO.quin menu?)\n");
  EXPECT_GE(CountLogLines("Processing disabled"), 1u);

  ASSERT_TRUE(host.host().Core().ChooseMenuItem("TAVO.quin/Enable LVAR Access"));
  ASSERT_TRUE(host.console().WaitForLine("TAVO.quin: LVAR access enabled"));
  RunResult again = RunBridgectl("get CONST_A");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, "CONST_A = 5\n");
}

TEST(BridgectlTest, ARunningWatchFollowsAnAircraftChange) {
  BridgeHost host;
  ASSERT_TRUE(host.Start(FastAircraft()));

  BridgectlProcess watch;
  ASSERT_TRUE(watch.Start("watch RAMP_FAST@100 --json --duration 6"));
  ASSERT_TRUE(watch.WaitForOut("\"name\":\"RAMP_FAST\"")) << watch.Err();

  host.host().ChangeAircraft(FastAircraft("TVO Second Aircraft"));
  ASSERT_TRUE(watch.WaitForOut("\"event\":\"aircraft\",\"title\":\"TVO Second Aircraft\"}", 10000))
      << watch.Out();
  ASSERT_EQ(watch.Wait(20000), 0) << watch.Err();

  // Values keep coming after the change: the watch asked for them again.
  std::string out = WithoutCarriageReturns(watch.Out());
  size_t change = out.find("\"event\":\"aircraft\"");
  ASSERT_NE(change, std::string::npos);
  EXPECT_NE(out.find("\"name\":\"RAMP_FAST\"", change), std::string::npos) << out;
  EXPECT_EQ(CountLogLines("LVARHandler::StartMonitoring RAMP_FAST (100): success"), 2u);
}

TEST(BridgectlTest, AWatchEndsWithAnErrorWhenTheSimulatorQuits) {
  BridgeHost host;
  ASSERT_TRUE(host.Start(FastAircraft()));
  BridgectlProcess watch;
  ASSERT_TRUE(watch.Start("watch TOGGLE_FAST@100"));
  ASSERT_TRUE(watch.WaitForOut("TOGGLE_FAST")) << watch.Err();
  host.Stop();  // the quit message to every client, then the add-on stops
  EXPECT_EQ(watch.Wait(15000), 1);
  EXPECT_EQ(WithoutCarriageReturns(watch.Err()), "bridgectl: the simulator is shutting down\n");
}

}  // namespace
