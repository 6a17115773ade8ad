// One session of the whole system: simhost hosts the built module as the
// simulator does, and an application made with the project's client library
// talks to it through the client-data areas. The story follows the module from
// its set-up through Connect, the variable list, monitoring, set and force,
// the menu, an aircraft change, MJC access, to the simulator's quit.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "aircraft_generator.h"
#include "app_client.h"
#include "bridge_log_file.h"
#include "hosted_bridge.h"
#include "lvar/records.h"

namespace {

using e2e::Lines;
using e2e::Succeeded;

constexpr size_t kGeneratedVariables = 600;

std::string Fixed(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", value);
  return text;
}

// The names of the aircraft's variables in id order.
std::vector<std::string> AircraftNames(simhost::SimHost& host) {
  std::vector<std::string> names;
  for (const auto& view : host.Aircraft().List("", simhost::kMaxVariables)) names.push_back(view.name);
  return names;
}

double AircraftValue(simhost::SimHost& host, const std::string& name) {
  double value = -12345.0;
  EXPECT_TRUE(host.Aircraft().Get(name, &value)) << name;
  return value;
}

// The first variable of the description that moves as `kind`.
std::string FirstOfKind(const simhost::AircraftDescription& description, simhost::MotionKind kind) {
  for (const auto& variable : description.variables) {
    if (variable.motion.kind == kind) return variable.name;
  }
  ADD_FAILURE() << "no variable of that motion";
  return std::string();
}

// Console lines that name the module's client, in order.
std::vector<std::string> BridgeConsoleLines(e2e::HostedBridge& sim) {
  std::vector<std::string> lines;
  for (const std::string& line : sim.Console().Lines()) {
    if (line.find("\"TAVO.quin.Bridge\"") != std::string::npos) lines.push_back(line);
  }
  return lines;
}

// The SendID of a CheckResult line; -1 when it has none.
int SendIdOf(const std::string& line) {
  const std::string key = "(SendID = ";
  size_t at = line.find(key);
  return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + key.size());
}

// The log without the periodic rescan's line, which comes whenever 30 s have
// passed and finds nothing new on an aircraft that has not changed.
Lines WithoutRescans(const Lines& lines) {
  Lines kept;
  for (const std::string& line : lines) {
    if (line != "Check for new LVARS") kept.push_back(line);
  }
  return kept;
}

// The module's menu as simhost last showed it.
std::string LastMenu(e2e::HostedBridge& sim) {
  std::string last;
  for (const std::string& line : BridgeConsoleLines(sim)) {
    if (line.compare(0, 8, "menu of ") == 0) last = line;
  }
  return last;
}

// The names of a variable list: every chunk's text split at ";".
std::vector<std::string> ListedNames(const std::vector<records::VarDump>& chunks) {
  std::vector<std::string> names;
  for (const records::VarDump& chunk : chunks) {
    std::string text(chunk.names);
    size_t start = 0;
    for (size_t end; (end = text.find(';', start)) != std::string::npos; start = end + 1) {
      names.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "a chunk's text does not end in \";\"";
  }
  return names;
}

TEST(ApplicationSessionTest, TheApplicationFollowsTheAircraftThroughTheModuleUntilTheSimulatorQuits) {
  const simhost::AircraftDescription generated = simhost::GenerateAircraft(kGeneratedVariables, 7, false);
  e2e::HostedBridge sim;
  ASSERT_TRUE(sim.Start(generated));
  ASSERT_TRUE(sim.WaitUntilReady());
  simhost::SimHost& host = sim.Host();
  auto bridgeSession = sim.BridgeSession();
  ASSERT_NE(bridgeSession, nullptr);
  const std::string bridgeLabel = bridgeSession->Label();

  // ---- Set-up, as simhost saw it: the menu built item by item and the four
  // areas, with no request rejected. (The log test checks the requests' log
  // lines and SendIDs one by one.)
  const std::string transport = bridgeSession->Transport();
  EXPECT_EQ(BridgeConsoleLines(sim),
            (std::vector<std::string>{
                bridgeLabel + " opened (" + transport + ")",
                "menu of " + bridgeLabel + ": TAVO.quin",
                "menu of " + bridgeLabel + ": TAVO.quin [About]",
                "menu of " + bridgeLabel + ": TAVO.quin [About | Disable LVAR Access]",
                "client data \"TAVO_SC_DYN_VARDATA_ID\" (268 bytes) created by " + bridgeLabel,
                "client data \"TAVO_SC_DYN_VARDUMP_ID\" (4012 bytes) created by " + bridgeLabel,
                "client data \"TAVO_SC_DYN_HOSTRESQUEST_ID\" (276 bytes) created by " + bridgeLabel,
                "client data \"TAVO_SC_DYN_HOSTEVENT_ID\" (1044 bytes) created by " + bridgeLabel,
            }));
  EXPECT_EQ(sim.Console().IndexOf("exception"), -1);

  // The once-only title request found the aircraft and built the registry.
  const std::string generatedTitle = "Generated Aircraft 600";
  EXPECT_TRUE(e2e::WaitForLogMessage("LVARHandler::Update Aircraft changed to 22 " + generatedTitle));
  EXPECT_TRUE(e2e::WaitForLogMessage("600 Changes 600 added 0 deleted (Total Vars 600)"));

  // An exception message from the simulator is logged with its fields.
  bridgeSession->SendException(10, 7, 2);
  EXPECT_TRUE(e2e::WaitForLogMessage("SimConnect: EXCEPTION index=2 sendid=7 exc=10"));

  // ---- Connect: the version event echoes the tag.
  e2e::AppClient app;
  ASSERT_TRUE(app.Open("TAVO.quin e2e application"));
  ASSERT_TRUE(app.Send(records::kCommandConnect, "", 0.0, 4242, 0xC0FFEE01));
  records::HostEvent event{};
  ASSERT_TRUE(app.TakeEventCode(records::kEventConnectReply, &event));
  EXPECT_EQ(event.reference, 0xC0FFEE01u);
  EXPECT_EQ(event.marker, 1u);
  EXPECT_EQ(event.value, 1.21);
  EXPECT_STREQ(event.text, "TAVO.quin Bridge Version 1.0.0.21");
  EXPECT_TRUE(e2e::WaitForLogMessage("LVARHandler::Connect c0ffee01"));

  // ---- The list: as many full chunks as needed, each as full as it may be,
  // then the rest and the closing record; together every variable in id order.
  ASSERT_TRUE(app.Send(records::kCommandSendLVARS));
  std::vector<records::VarDump> chunks;
  ASSERT_TRUE(app.TakeVarList(&chunks));
  ASSERT_GE(chunks.size(), 3u) << "two chunks or more, and the closing record";
  const std::vector<std::string> names = AircraftNames(host);
  ASSERT_EQ(names.size(), kGeneratedVariables);
  size_t listed = 0;
  for (size_t i = 0; i + 1 < chunks.size(); ++i) {
    const records::VarDump& chunk = chunks[i];
    EXPECT_EQ(chunk.format, records::kVarDumpFormat);
    EXPECT_EQ(chunk.totalCount, kGeneratedVariables);
    const std::vector<std::string> chunkNames = ListedNames({chunk});
    ASSERT_FALSE(chunkNames.empty());
    const uint32_t firstId = static_cast<uint32_t>(host.Aircraft().LookupVariableId(chunkNames[0].c_str()));
    EXPECT_EQ(chunk.firstId, i == 0 ? 0u : firstId) << "chunk " << i;
    const size_t length = std::strlen(chunk.names);
    EXPECT_LE(length, 3999u);
    listed += chunkNames.size();
    // The following name would not have fitted.
    if (i + 2 < chunks.size()) {
      EXPECT_GT(length + names[listed].size() + 2, 4000u) << "chunk " << i;
    }
  }
  const records::VarDump& closing = chunks.back();
  EXPECT_EQ(closing.format, records::kVarDumpFormat);
  EXPECT_EQ(closing.totalCount, kGeneratedVariables);
  EXPECT_STREQ(closing.names, "");
  EXPECT_EQ(ListedNames(chunks), names);
  EXPECT_TRUE(e2e::WaitForLogMessage("LVARHandler::SendLVARS End"));
  {
    Lines lines = e2e::BridgeLogMessages(sim.StartedAt());
    int at = e2e::IndexOf(lines, "LVARHandler::SendLVARS");
    ASSERT_GE(at, 0);
    Lines expected;
    int sendId = SendIdOf(lines[at + 1]);
    for (size_t i = 0; i + 2 < chunks.size(); ++i) expected.push_back(Succeeded("SendLVARSchunk", sendId++));
    expected.push_back(Succeeded("SendLVARrestChunk", sendId++));
    expected.push_back(Succeeded("SendLVARS", sendId++));
    expected.push_back("LVARHandler::SendLVARS End");
    EXPECT_EQ(e2e::Slice(lines, at + 1, at + 1 + expected.size()), expected);
  }

  // ---- Monitoring: the first report at once, then one report for each frame
  // that moves the variable, carrying the value the aircraft has.
  const std::string moving = FirstOfKind(generated, simhost::MotionKind::kRamp);
  ASSERT_TRUE(app.Send(records::kCommandStartMonitoring, moving.c_str(), 50.0));
  records::VarData data{};
  ASSERT_TRUE(app.TakeVarDataNamed(moving, &data));
  EXPECT_EQ(data.value, AircraftValue(host, moving));
  EXPECT_EQ(data.isMjc, 0u);
  double previous = data.value;
  for (int frame = 0; frame < 3; ++frame) {
    host.AdvanceFrames(1);
    const double expected = AircraftValue(host, moving);
    ASSERT_GE(expected - previous, 0.01) << "the ramp moves by more than the threshold per frame";
    ASSERT_TRUE(app.TakeVarDataNamed(moving, &data)) << "frame " << frame;
    EXPECT_EQ(data.value, expected) << "frame " << frame;
    previous = expected;
  }
  EXPECT_TRUE(e2e::WaitForLogMessage("LVARHandler::StartMonitoring " + moving + " (50): success"));

  // ---- Set: the aircraft's variable takes the value (and stops moving), and
  // the monitored variable reports it.
  ASSERT_TRUE(app.Send(records::kCommandSetValue, moving.c_str(), 1234.5));
  ASSERT_TRUE(app.TakeVarData([&](const records::VarData& r) { return moving == r.name && r.value == 1234.5; },
                              &data));
  EXPECT_EQ(AircraftValue(host, moving), 1234.5);
  host.AdvanceFrames(1);
  EXPECT_EQ(AircraftValue(host, moving), 1234.5);
  EXPECT_TRUE(e2e::WaitForLogMessage("LVARHandler::SetValue " + moving + " = 1234.500000 : SUCCESS"));

  // ---- Force: an unmonitored variable is reported once, at once.
  const std::string constant = FirstOfKind(generated, simhost::MotionKind::kConstant);
  ASSERT_TRUE(app.Send(records::kCommandForceUpdate, constant.c_str()));
  ASSERT_TRUE(app.TakeVarDataNamed(constant, &data));
  const double constantValue = AircraftValue(host, constant);
  EXPECT_EQ(data.value, constantValue);
  EXPECT_TRUE(e2e::WaitForLogMessage("LVARHandler::ForceUpdate " + constant + " = " + Fixed(constantValue) +
                                     " : success"));

  // ---- The menu: "Disable LVAR Access" refuses the application's requests
  // until "Enable LVAR Access"; each rebuilds the registry.
  ASSERT_TRUE(sim.Choose("TAVO.quin/Disable LVAR Access", "TAVO.quin: LVAR access disabled"));
  EXPECT_TRUE(sim.Console().WaitForLine("menu of " + bridgeLabel + ": TAVO.quin [About | Enable LVAR Access]"));
  EXPECT_TRUE(sim.Console().HasLine("menu item \"TAVO.quin/Disable LVAR Access\" chosen: event 101 to " +
                                    bridgeLabel));
  app.DiscardReceived();
  ASSERT_TRUE(app.Send(records::kCommandForceUpdate, constant.c_str()));
  EXPECT_TRUE(e2e::WaitForLogMessage("Processing disabled"));
  app.Pump(300);
  EXPECT_TRUE(app.VarDataQueue().empty()) << "a refused request was served";

  ASSERT_TRUE(sim.Choose("TAVO.quin/Enable LVAR Access", "TAVO.quin: LVAR access enabled"));
  EXPECT_TRUE(sim.Console().HasLine("menu item \"TAVO.quin/Enable LVAR Access\" chosen: event 100 to " +
                                    bridgeLabel));
  ASSERT_TRUE(app.Send(records::kCommandForceUpdate, constant.c_str()));
  ASSERT_TRUE(app.TakeVarDataNamed(constant, &data));
  EXPECT_EQ(data.value, constantValue);
  EXPECT_EQ(LastMenu(sim), "menu of " + bridgeLabel + ": TAVO.quin [About | Disable LVAR Access]");
  {
    Lines lines = WithoutRescans(e2e::BridgeLogMessages(sim.StartedAt()));
    int disable = e2e::IndexOf(lines, "onRecvEvent 101 (24)");
    ASSERT_GE(disable, 0);
    ASSERT_LE(static_cast<size_t>(disable) + 15, lines.size());
    const int s = SendIdOf(lines[disable + 2]);
    const std::string rebuilt = "600 Changes 600 added 0 deleted (Total Vars 600)";
    EXPECT_EQ(e2e::Joined(e2e::Slice(lines, disable, disable + 15)),
              e2e::Joined(Lines{
                  "onRecvEvent 101 (24)",
                  rebuilt,
                  Succeeded("SimConnect_RequestDataOnSimObject", s),
                  Succeeded("SimConnect_Text", s + 1),
                  Succeeded("SimConnect_MenuRemoveSubItem(Disable LVAR Access)", s + 2),
                  Succeeded("SimConnect_MenuAddSubItem(Enable LVAR Access)", s + 3),
                  "HostRequest 00000005",
                  "Processing disabled",
                  "onRecvEvent 100 (24)",
                  rebuilt,
                  Succeeded("SimConnect_RequestDataOnSimObject", s + 4),
                  Succeeded("SimConnect_Text", s + 5),
                  Succeeded("SimConnect_MenuRemoveSubItem(Enable LVAR Access)", s + 6),
                  Succeeded("SimConnect_MenuAddSubItem(Disable LVAR Access)", s + 7),
                  "LVARHandler::ForceUpdate " + constant + " = " + Fixed(constantValue) + " : success",
              }));
  }
  EXPECT_TRUE(sim.Console().HasLine("menu of " + bridgeLabel + ": TAVO.quin [About]"));

  // ---- An aircraft change: the title arrives with the following frame (every
  // frame since access was enabled again); the registry is rebuilt for the new
  // aircraft and the application hears the new title.
  const simhost::AircraftDescription mjcAircraft = e2e::SampleAircraft("airliner_mjc.aircraft");
  host.ChangeAircraft(mjcAircraft);
  host.AdvanceFrames(1);
  ASSERT_TRUE(app.TakeEventCode(records::kEventAircraftTitle, &event));
  EXPECT_EQ(event.reference, 0u);
  EXPECT_EQ(event.value, 1.21);
  EXPECT_STREQ(event.text, mjcAircraft.title.c_str());
  {
    Lines lines = e2e::BridgeLogMessages(sim.StartedAt());
    const std::string changed = "LVARHandler::Update Aircraft changed to " +
                                std::to_string(mjcAircraft.title.size()) + " " + mjcAircraft.title;
    int at = e2e::IndexOf(lines, changed);
    ASSERT_GE(at, 0);
    auto id = [&](const char* name) { return std::to_string(host.Aircraft().LookupVariableId(name)); };
    const Lines mjcIds = {"MJC_VAR_READ_VALUE = " + id("MJC_VAR_READ_VALUE"),
                          "MJC_VAR_READ_CODE = " + id("MJC_VAR_READ_CODE"),
                          "MJC_VAR_WRITE_VALUE = " + id("MJC_VAR_WRITE_VALUE"),
                          "MJC_VAR_WRITE_CODE = " + id("MJC_VAR_WRITE_CODE")};
    Lines expected = mjcIds;
    expected.insert(expected.end(), mjcIds.begin(), mjcIds.end());
    expected.push_back("52 Changes 52 added 0 deleted (Total Vars 52)");
    expected.push_back("LVARHandler::SendAircraftName");
    EXPECT_EQ(e2e::Slice(lines, at + 1, at + 1 + expected.size()), expected);
  }

  // ---- MJC: a monitored MJC variable is read through the handshake, a write
  // through it reaches the aircraft, and the monitored value follows.
  ASSERT_TRUE(app.Send(records::kCommandStartMonitoring, "HIDDEN_STATE", 200.0, 2003));
  ASSERT_TRUE(app.TakeVarDataNamed("HIDDEN_STATE", &data));
  EXPECT_EQ(data.isMjc, 1u);
  EXPECT_EQ(data.value, 42.5);
  ASSERT_TRUE(app.Send(records::kCommandSetValue, "HIDDEN_STATE", 7.25, 2003));
  ASSERT_TRUE(app.TakeVarData([](const records::VarData& r) { return std::strcmp(r.name, "HIDDEN_STATE") == 0 &&
                                                                      r.value == 7.25; },
                              &data));
  EXPECT_EQ(data.isMjc, 1u);
  ASSERT_TRUE(app.Send(records::kCommandSetValue, "LANDING_LIGHT", 0.75, 1020));
  EXPECT_TRUE(e2e::WaitForLogMessage("LVARHandler::SetValue LANDING_LIGHT = 0.750000 : SUCCESS"));
  EXPECT_EQ(AircraftValue(host, "LIGHT_LANDING"), 0.75);
  EXPECT_TRUE(e2e::WaitForLogMessage("LVARHandler::StartMonitoring HIDDEN_STATE (200) : success"));
  EXPECT_TRUE(e2e::WaitForLogMessage("LVARHandler::ForceUpdate HIDDEN_STATE = 42.500000 : success"));
  EXPECT_TRUE(e2e::WaitForLogMessage("LVARHandler::SetValue HIDDEN_STATE = 7.250000 : SUCCESS"));
  // The list names the aircraft's own variables only, but counts the MJC entry.
  ASSERT_TRUE(app.Send(records::kCommandSendLVARS));
  ASSERT_TRUE(app.TakeVarList(&chunks));
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].totalCount, 53u);
  EXPECT_EQ(chunks[1].totalCount, 53u);
  std::vector<std::string> ordinary;
  for (const std::string& name : AircraftNames(host)) {
    if (name.compare(0, 8, "MJC_VAR_") != 0) ordinary.push_back(name);
  }
  EXPECT_EQ(ListedNames(chunks), ordinary);

  // ---- Quit: the module's worker leaves its loop on the quit message, before
  // DLLStop is called, and closes its connection; simhost calls DLLStop once
  // the connection has gone. The worker's teardown ends inside DLLStop's wait
  // at the latest, so there is one close and DLLStop has nothing to release.
  EXPECT_TRUE(app.Exceptions().empty());
  app.Close();
  sim.Stop();
  int left = sim.Console().IndexOf(bridgeLabel + " left");
  int stopped = sim.Console().IndexOf("TVOBridge64.dll stopped");
  EXPECT_GE(left, 0);
  EXPECT_GT(stopped, left);
  Lines lines = e2e::BridgeLogMessages(sim.StartedAt());
  const std::string close = "SimConnect: SimConnect_Close ==> SUCCESS (SendID = -1)";
  int quit = e2e::IndexOf(lines, "Received QUIT Signal!");
  ASSERT_GE(quit, 0);
  Lines tail = e2e::Slice(lines, quit, lines.size());
  EXPECT_TRUE(tail == (Lines{"Received QUIT Signal!", close, "DLLSTOP", "DLLSTOP DONE"}) ||
              tail == (Lines{"Received QUIT Signal!", "DLLSTOP", close, "DLLSTOP DONE"}))
      << e2e::Joined(tail);
  // Nothing failed on the way.
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("FAILED"), std::string::npos) << line;
    EXPECT_EQ(line.find("Excpetion"), std::string::npos) << line;
    EXPECT_EQ(line.find("too short"), std::string::npos) << line;
  }
}

}  // namespace
