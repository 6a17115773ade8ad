// bridgectl.exe run for each command against the real TVOBridge64.dll hosted
// here and served by simhost: get, set, unknown names, keys, title, attention,
// rescan, watch, the access switch, every way to the server, an aircraft change
// under a watch, a long list, an MJC write, quit; one-line errors without a
// server or a bridge; a watch past the bridge's heartbeat time-out.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <tuple>

#include "aircraft_file.h"
#include "support/child_process.h"
#include "support/config_files.h"
#include "support/hosted_module.h"
#include "support/paths.h"
#include "support/wait_until.h"

namespace {

ChildRun Bridgectl(const std::string& arguments) {
  return RunChild(WindowsPath(TVO_BRIDGECTL_EXE), std::wstring(arguments.begin(), arguments.end()));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

simhost::AircraftDescription Aircraft(const std::string& text) {
  simhost::AircraftDescription aircraft;
  std::string error;
  EXPECT_TRUE(simhost::ParseAircraft(text, &aircraft, &error)) << error;
  return aircraft;
}

size_t Logged(const std::string& line) { return module_log::CountOf(module_log::SoFar(), line); }

// True while a folder "bridgectl-*" is left in the temporary folder.
bool ConfigFolderLeft() {
  wchar_t temp[MAX_PATH + 1];
  WIN32_FIND_DATAW found;
  HANDLE search =
      FindFirstFileW((std::wstring(temp, GetTempPathW(MAX_PATH + 1, temp)) + L"bridgectl-*").c_str(), &found);
  return search != INVALID_HANDLE_VALUE && FindClose(search);
}

TEST(BridgectlTest, OneSessionThroughEveryCommand) {
  ServedOptions options;
  options.aircraft = Aircraft(
      "title TVO Test Aircraft\nvar CONST_A 5\nvar RAMP_FAST ramp 0 1000 2\n"
      "var TOGGLE_FAST toggle 0 1 0.2\nvar SINE_SLOW sine 50 10 20\n");
  options.runFrames = true;
  options.tcp = true;
  ServedModule sim;
  ASSERT_TRUE(sim.Start(options));

  // set prints the old and the new value; names match without regard to case.
  ChildRun run = Bridgectl("set CONST_A 42.5");
  EXPECT_EQ(run.out + run.err, "CONST_A = 5 -> 42.5\n");
  double value = 0.0;
  EXPECT_TRUE(sim.Aircraft().Get("CONST_A", &value) && value == 42.5) << value;
  EXPECT_EQ(Logged("LVARHandler::SetValue CONST_A = 42.500000 : SUCCESS"), 1u);
  run = Bridgectl("get const_a SINE_SLOW");
  EXPECT_EQ(run.out.rfind("CONST_A = 42.5\nSINE_SLOW = ", 0), 0u) << run.out << run.err;
  EXPECT_NEAR(std::strtod(run.out.c_str() + 27, nullptr), 50.0, 10.0) << run.out;
  EXPECT_EQ(Bridgectl("set CONST_A -3 --json").out, "{\"name\":\"CONST_A\",\"old\":42.5,\"value\":-3.0}\n");
  EXPECT_EQ(Bridgectl("get const_a --json").out, "{\"name\":\"CONST_A\",\"value\":-3.0,\"mjc\":false}\n");

  // Unknown names: one line each and exit code 1; what is known is printed.
  const char* const unknown[][3] = {
      // arguments, output, error
      {"get NO_SUCH_VAR", "", "unknown variable NO_SUCH_VAR"},
      {"get CONST_A NO_SUCH_VAR", "CONST_A = -3\n", "unknown variable NO_SUCH_VAR"},
      {"set NO_SUCH_VAR 1", "", "unknown variable NO_SUCH_VAR"},
      {"watch CONST_A NO_SUCH_VAR@100", "", "unknown variable NO_SUCH_VAR"},
      {"watch MJC_VAR_READ_CODE", "",
       "MJC_VAR_READ_CODE: names that begin with MJC_VAR_ belong to the MJC handshake and cannot be monitored"},
      {"set DOOR 1 --mjc 1001", "", "the aircraft offers no MJC write handshake (DOOR)"},
  };
  for (const auto& u : unknown) {
    run = Bridgectl(u[0]);
    EXPECT_EQ(run.status, 1) << u[0];
    EXPECT_EQ(run.out + run.err, u[1] + ("bridgectl: " + std::string(u[2]) + "\n")) << u[0];
  }
  EXPECT_EQ(module_log::CountStartingWith(module_log::SoFar(), "LVARHandler::SetValue NO_SUCH_VAR"), 0u);
  EXPECT_EQ(Logged("LVARHandler::StartMonitoring NO_SUCH_VAR : not found"), 1u);
  EXPECT_TRUE(module_log::WaitFor("LVARHandler::StopMonitoring CONST_A : success"));
  EXPECT_EQ(Logged("LVARHandler::SetValue DOOR : NO MJC SUPPORT"), 1u);

  run = Bridgectl("keys 17,65");
  EXPECT_EQ(run.out, "pressed 17 65\n");
  EXPECT_EQ(Logged("SendKeys 17,65"), 1u);
  EXPECT_EQ(Bridgectl("title --json").out, "{\"title\":\"TVO Test Aircraft\"}\n");
  EXPECT_EQ(Bridgectl("attention").status, 0);
  EXPECT_TRUE(sim.Console().WaitForLine("TAVO.quin needs your attention!"));
  run = Bridgectl("rescan");
  ASSERT_EQ(Lines(run.out).size(), 5u) << run.out;
  EXPECT_EQ(Lines(run.out)[0], "CONST_A = -3");
  EXPECT_EQ(Lines(run.out)[4], "the bridge rebuilt its list: 4 variables");

  // watch: JSON lines in time order with moving values, then monitoring ends.
  run = Bridgectl("watch RAMP_FAST@50 TOGGLE_FAST@50 --json --count 12");
  ASSERT_EQ(run.status, 0) << run.err;
  std::set<std::string> ramp;
  for (const std::string& line : Lines(run.out)) {
    ASSERT_EQ(line.rfind("{\"time\":\"", 0), 0u) << line;
    if (line.find("\"name\":\"RAMP_FAST\"") != std::string::npos) ramp.insert(line.substr(line.find("\"value\":")));
  }
  EXPECT_EQ(Lines(run.out).size(), 12u);
  EXPECT_GE(ramp.size(), 3u) << run.out;  // it moves by some 25 per 50 ms
  EXPECT_TRUE(module_log::WaitFor("LVARHandler::StopMonitoring TOGGLE_FAST : success"));

  // With LVAR access disabled in the menu, the bridge answers nothing.
  ASSERT_TRUE(sim.Choose("TAVO.quin/Disable LVAR Access", "TAVO.quin: LVAR access disabled"));
  run = Bridgectl("get CONST_A --timeout 1500");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "bridgectl: the bridge did not answer Connect within 1500 ms (is TVOBridge64.dll loaded, and "
            "LVAR access enabled in the simulator's TAVO.quin menu?)\n");
  ASSERT_TRUE(sim.Choose("TAVO.quin/Enable LVAR Access", "TAVO.quin: LVAR access enabled"));

  // Every way to the server finds the same bridge.
  const std::string port4 = std::to_string(sim.Host().Port4()), port6 = std::to_string(sim.Host().Port6());
  {
    ScopedFile config(L"SimConnect.cfg",
                      "[SimConnect.5]\r\nProtocol=IPv4\r\nAddress=127.0.0.1\r\nPort=" + port4 + "\r\n");
    for (const std::string& how : {std::string(), std::string("--pipe \"Lockheed Martin Prepar3D v6\\SimConnect\""),
                                   "--tcp 127.0.0.1:" + port4, "--tcp [::1]:" + port6, std::string("--config 5")}) {
      run = Bridgectl(how + " title");
      EXPECT_EQ(run.out + run.err, "TVO Test Aircraft\n") << how;
    }
  }
  for (const char* transport : {"pipe", "tcp4", "tcp6"}) {
    EXPECT_TRUE(sim.Console().HasLine("\"bridgectl\" opened (" + std::string(transport) + ")")) << transport;
  }
  EXPECT_FALSE(ConfigFolderLeft());

  // Another aircraft under a running watch: its title comes as an event, and
  // the watch asks for its variable again.
  std::string second = "title TVO Second Aircraft\nvar RAMP_FAST ramp 0 1000 2\n";
  for (int i = 0; i < 1500; ++i) second += "var SECOND_AIRCRAFT_VARIABLE_" + std::to_string(i) + " 1\n";
  const simhost::AircraftDescription big = Aircraft(second + "mjc handshake\nmjc code 2001 var RAMP_FAST\n");
  ChildProcess watch;
  ASSERT_TRUE(watch.Start(WindowsPath(TVO_BRIDGECTL_EXE), L"watch RAMP_FAST@100 --json --duration 6"));
  ASSERT_TRUE(watch.WaitForOutput("\"name\":\"RAMP_FAST\"")) << watch.Output();
  sim.Host().ChangeAircraft(big);
  ASSERT_TRUE(watch.WaitForOutput("\"event\":\"aircraft\",\"title\":\"TVO Second Aircraft\"}", 10000))
      << watch.Output();
  EXPECT_EQ(watch.Wait(), 0) << watch.Output();
  const std::string out = watch.Output();
  EXPECT_NE(out.find("\"name\":\"RAMP_FAST\"", out.find("\"event\":\"aircraft\"")), std::string::npos) << out;
  EXPECT_EQ(Logged("LVARHandler::StartMonitoring RAMP_FAST (100): success"), 2u);

  // Its list comes in as many chunks as the bridge wrote.
  run = Bridgectl("list --verbose");
  const std::vector<std::string> listed = Lines(run.out);
  ASSERT_EQ(listed.size(), 1502u) << run.err;
  for (size_t i = 0; i < 1501; ++i) ASSERT_EQ(listed[i], big.variables[i].name) << i;
  EXPECT_EQ(listed.back(), "1501 variables");
  const module_log::Lines lines = module_log::SoFar();
  const size_t chunks = module_log::CountStartingWith(lines, "SimConnect: SendLVARSchunk ==> SUCCESS") +
                        module_log::CountStartingWith(lines, "SimConnect: SendLVARrestChunk ==> SUCCESS");
  EXPECT_GE(chunks, 7u);
  const std::string connected = "bridgectl: connected to Prepar3D v6 (simhost); TAVO.quin Bridge Version 1.0.0.21\n";
  EXPECT_EQ(run.err, connected + "bridgectl: the list came in " + std::to_string(chunks) + " chunk(s)\n");

  // An MJC write goes through the aircraft's handshake.
  run = Bridgectl("set DOOR 7 --mjc 2001");
  EXPECT_EQ(run.out + run.err, "sent DOOR = 7 to MJC code 2001\n");
  EXPECT_TRUE(module_log::WaitFor("LVARHandler::SetValue DOOR = 7.000000 : SUCCESS"));
  EXPECT_TRUE(WaitUntil([&] { return sim.Aircraft().Get("RAMP_FAST", &value) && value == 7.0; }));

  // The simulator quits under a running watch.
  ChildProcess last;
  ASSERT_TRUE(last.Start(WindowsPath(TVO_BRIDGECTL_EXE), L"watch RAMP_FAST@100", {true}));
  ASSERT_TRUE(last.WaitForOutput("RAMP_FAST")) << last.Errors();
  sim.QuitAndStop();
  EXPECT_EQ(last.Wait(15000), 1);
  EXPECT_EQ(WithoutCarriageReturns(last.Errors()), "bridgectl: the simulator is shutting down\n");
}

TEST(BridgectlTest, WithoutAServerOrWithoutTheBridgeEveryRunIsAnError) {
  RegistryPorts noPorts;  // no TCP fallback to stray ports either
  const std::tuple<const char*, int, const char*> runs[] = {
      // arguments, exit code, error
      {"title", 1,
       "no SimConnect server: nothing answers on the simulator's pipe or on the TCP ports it leaves in the registry "
       "(is the simulator running?)"},
      {"--pipe tvo-bridgectl-nothing title", 1, "no SimConnect server on the pipe \\\\.\\pipe\\tvo-bridgectl-nothing"},
      {"--tcp 127.0.0.1:1 title", 1, "no SimConnect server at 127.0.0.1:1"},
  };
  for (const auto& r : runs) {
    const ChildRun run = Bridgectl(std::get<0>(r));
    EXPECT_EQ(run.status, std::get<1>(r)) << std::get<0>(r);
    EXPECT_EQ(run.out + run.err, "bridgectl: " + std::string(std::get<2>(r)) + "\n") << std::get<0>(r);
  }
  const ChildRun help = Bridgectl("watch --help"), none = Bridgectl(""), wrong = Bridgectl("title --tcp nowhere");
  EXPECT_EQ(std::make_tuple(help.status, none.status, wrong.status), std::make_tuple(0, 2, 2));
  EXPECT_NE(help.out.find("Usage: bridgectl watch [OPTIONS] NAME[@MS]..."), std::string::npos) << help.out;
  EXPECT_EQ(none.err.rfind("bridgectl: talks to the TAVO.quin Simulator Bridge", 0), 0u);
  EXPECT_EQ(wrong.out + wrong.err,
            "--tcp: takes HOST:PORT or [IPV6-ADDRESS]:PORT\nRun with --help for more information.\n");

  // simhost alone: the request area does not exist. An explicit --tcp that
  // fails must not fall back to this server's pipe; the user's own section on
  // 127.0.0.1 does, through the library's chain, once nothing answers there.
  LogCapture console;
  simhost::SimHostOptions options;
  options.logSink = console.Sink();
  simhost::SimHost host;
  std::string error;
  ASSERT_TRUE(host.Start(options, &error)) << error;
  EXPECT_EQ(Bridgectl("--tcp 127.0.0.1:1 title").err, "bridgectl: no SimConnect server at 127.0.0.1:1\n");
  const ChildRun title = Bridgectl("--timeout 1500 title");
  EXPECT_EQ(title.status, 1);
  EXPECT_EQ(title.err,
            "bridgectl: no bridge: the simulator refused requests to TAVO_SC_DYN_HOSTRESQUEST_ID "
            "(exception 14); is TVOBridge64.dll loaded?\n");
  ScopedFile config(L"SimConnect.cfg", "[SimConnect.5]\r\nProtocol=IPv4\r\nAddress=127.0.0.1\r\nPort=1\r\n");
  EXPECT_EQ(Bridgectl("--config 5 --timeout 1500 title").err, title.err);
  EXPECT_GE(console.IndexOf("\"bridgectl\" opened (pipe)"), 0);
  EXPECT_FALSE(ConfigFolderLeft());
}

// A watch sends no request of its own while it only receives, and the bridge
// forgets an application after 60 s without one: bridgectl's heartbeat keeps
// the watch alive past that time-out. (Some 70 seconds: a CTest entry of its own.)
TEST(BridgectlHeartbeatTest, AWatchOutlivesTheBridgesHeartbeatTimeOut) {
  ServedOptions options;
  options.aircraft = Aircraft("title Heartbeat\nvar TOGGLE_FAST toggle 0 1 0.2\n");
  options.runFrames = true;
  ServedModule sim;
  ASSERT_TRUE(sim.Start(options));
  const ChildRun watch =
      RunChild(WindowsPath(TVO_BRIDGECTL_EXE), L"watch TOGGLE_FAST@500 --json --duration 70", 150000);
  ASSERT_EQ(watch.status, 0) << watch.err;
  // Reports kept coming well past 60 s after the watch's last request; the
  // value read every 500 ms changes about once a second.
  const std::vector<std::string> lines = Lines(watch.out);
  ASSERT_GE(lines.size(), 50u) << watch.out;
  auto seconds = [](const std::string& line) {  // of the day: "...T12:34:56.789..."
    return std::atoi(&line[20]) * 3600.0 + std::atoi(&line[23]) * 60.0 + std::strtod(&line[26], nullptr);
  };
  EXPECT_GE(std::fmod(seconds(lines.back()) - seconds(lines.front()) + 86400.0, 86400.0), 65.0);
  EXPECT_EQ(module_log::CountStartingWith(module_log::SoFar(), "No heartbeat"), 0u);
  EXPECT_EQ(Logged("LVARHandler::StopMonitoring TOGGLE_FAST : success"), 1u);
}

}  // namespace
