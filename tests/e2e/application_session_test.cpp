// One session of the whole system: simhost hosts the built module as the
// simulator does, and the application (bridgectl's session) talks to it
// through the client-data areas: the set-up as simhost saw it, Connect, the
// variable list in several chunks, monitor, set and force, the menu, an
// aircraft change, MJC access, and the simulator's quit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "aircraft_file.h"
#include "support/app_client.h"
#include "support/hosted_module.h"
#include "support/module_log.h"

namespace {

using module_log::Lines;
using module_log::Succeeded;

// The SendID of a CheckResult line; -1 without one.
int SendIdOf(const std::string& line) {
  const size_t at = line.find("(SendID = ");
  return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + 10);
}


TEST(ApplicationSessionTest, TheApplicationFollowsTheAircraftThroughTheModuleUntilTheSimulatorQuits) {
  ServedOptions options;
  options.aircraft = simhost::GenerateAircraft(600, 7, false);
  ServedModule sim;
  ASSERT_TRUE(sim.Start(options));
  simhost::AircraftHost& aircraft = sim.Aircraft();
  auto valueOf = [&](const std::string& name) {
    double value = -12345.0;
    EXPECT_TRUE(aircraft.Get(name, &value)) << name;
    return value;
  };
  auto firstOf = [&](simhost::MotionKind kind) {
    for (const auto& variable : options.aircraft.variables) {
      if (variable.motion.kind == kind) return variable.name;
    }
    return std::string("none");
  };
  auto bridgeConsole = [&] {
    std::vector<std::string> lines;
    for (const std::string& line : sim.Console().Lines()) {
      if (line.find("\"TAVO.quin.Bridge\"") != std::string::npos) lines.push_back(line);
    }
    return lines;
  };
  const std::string label = sim.BridgeSession()->Label();
  const std::string menu = "menu of " + label + ": TAVO.quin";

  // ---- The set-up as simhost saw it: the menu built item by item and the
  // four areas, no request rejected (log_file_test checks the log lines).
  EXPECT_EQ(bridgeConsole(), (std::vector<std::string>{
                                 label + " opened (pipe)", menu, menu + " [About]",
                                 menu + " [About | Disable LVAR Access]",
                                 "client data \"TAVO_SC_DYN_VARDATA_ID\" (268 bytes) created by " + label,
                                 "client data \"TAVO_SC_DYN_VARDUMP_ID\" (4012 bytes) created by " + label,
                                 "client data \"TAVO_SC_DYN_HOSTRESQUEST_ID\" (276 bytes) created by " + label,
                                 "client data \"TAVO_SC_DYN_HOSTEVENT_ID\" (1044 bytes) created by " + label}));
  EXPECT_EQ(sim.Console().IndexOf("exception"), -1);
  EXPECT_TRUE(module_log::WaitFor("LVARHandler::Update Aircraft changed to 22 Generated Aircraft 600"));
  EXPECT_TRUE(module_log::WaitFor("600 Changes 600 added 0 deleted (Total Vars 600)"));
  // An exception from the simulator is logged with its fields.
  sim.BridgeSession()->SendException(10, 7, 2);
  EXPECT_TRUE(module_log::WaitFor("SimConnect: EXCEPTION index=2 sendid=7 exc=10"));

  // ---- Connect: the version event carries the application's tag.
  AppClient app;
  ASSERT_TRUE(app.Open(4242));
  EXPECT_EQ(app.Session().bridgeVersion(), "TAVO.quin Bridge Version 1.0.0.21");
  EXPECT_TRUE(module_log::WaitFor("LVARHandler::Connect 00007e57"));

  // ---- The list: in several chunks and the closing record, every variable
  // in id order (how full each chunk is: lvar_channel_test).
  ASSERT_TRUE(app.Send(records::kCommandSendLVARS));
  std::vector<records::VarDump> chunks;
  ASSERT_TRUE(app.TakeVarList(&chunks));
  ASSERT_GE(chunks.size(), 3u) << "two chunks or more, and the closing record";
  for (const records::VarDump& chunk : chunks) EXPECT_EQ(chunk.totalCount, 600u);
  EXPECT_STREQ(chunks.back().names, "");
  EXPECT_EQ(AppClient::ListedNames(chunks), aircraft.Names());
  EXPECT_TRUE(module_log::WaitFor("LVARHandler::SendLVARS End"));

  // ---- Monitoring: the first report at once, then one for each frame that
  // moves the variable, with the value the aircraft has.
  const std::string moving = firstOf(simhost::MotionKind::kRamp);
  ASSERT_TRUE(app.Send(records::kCommandStartMonitoring, moving, 50.0));
  records::VarData data{};
  ASSERT_TRUE(app.TakeVarData(moving, &data));
  EXPECT_EQ(data.value, valueOf(moving));
  EXPECT_EQ(data.isMjc, 0u);
  for (int frame = 0; frame < 3; ++frame) {
    const double previous = data.value;
    sim.Host().AdvanceFrames(1);
    ASSERT_GE(valueOf(moving) - previous, 0.01) << "the ramp moves by more than the threshold per frame";
    ASSERT_TRUE(app.TakeVarData(moving, &data)) << "frame " << frame;
    EXPECT_EQ(data.value, valueOf(moving)) << "frame " << frame;
  }
  EXPECT_TRUE(module_log::WaitFor("LVARHandler::StartMonitoring " + moving + " (50): success"));

  // ---- Set: the aircraft takes the value (and stops moving); the monitor
  // reports it. Force: an unmonitored variable is reported once, at once.
  ASSERT_TRUE(app.Send(records::kCommandSetValue, moving, 1234.5));
  ASSERT_TRUE(app.TakeVarData(moving, &data));
  EXPECT_EQ(data.value, 1234.5);
  sim.Host().AdvanceFrames(1);
  EXPECT_EQ(valueOf(moving), 1234.5);
  EXPECT_TRUE(module_log::WaitFor("LVARHandler::SetValue " + moving + " = 1234.500000 : SUCCESS"));
  const std::string constant = firstOf(simhost::MotionKind::kConstant);
  const double constantValue = valueOf(constant);
  ASSERT_TRUE(app.Send(records::kCommandForceUpdate, constant));
  ASSERT_TRUE(app.TakeVarData(constant, &data));
  EXPECT_EQ(data.value, constantValue);
  const std::string forced =
      "LVARHandler::ForceUpdate " + constant + " = " + std::to_string(constantValue) + " : success";
  EXPECT_TRUE(module_log::WaitFor(forced));

  // ---- The menu: "Disable LVAR Access" refuses the application's requests
  // until "Enable LVAR Access"; each rebuilds the registry.
  ASSERT_TRUE(sim.Choose("TAVO.quin/Disable LVAR Access", "TAVO.quin: LVAR access disabled"));
  EXPECT_TRUE(sim.Console().WaitForLine(menu + " [About | Enable LVAR Access]"));
  EXPECT_TRUE(sim.Console().HasLine("menu item \"TAVO.quin/Disable LVAR Access\" chosen: event 101 to " + label));
  app.VarData().clear();
  ASSERT_TRUE(app.Send(records::kCommandForceUpdate, constant));
  EXPECT_TRUE(module_log::WaitFor("Processing disabled"));
  app.Pump(300);
  EXPECT_TRUE(app.VarData().empty()) << "a refused request was served";
  ASSERT_TRUE(sim.Choose("TAVO.quin/Enable LVAR Access", "TAVO.quin: LVAR access enabled"));
  EXPECT_TRUE(sim.Console().HasLine("menu item \"TAVO.quin/Enable LVAR Access\" chosen: event 100 to " + label));
  ASSERT_TRUE(app.Send(records::kCommandForceUpdate, constant));
  ASSERT_TRUE(app.TakeVarData(constant, &data));
  EXPECT_EQ(data.value, constantValue);
  const std::vector<std::string> shown = bridgeConsole();
  EXPECT_EQ(std::count(shown.begin(), shown.end(), menu + " [About]"), 3) << "built, and rebuilt twice";
  EXPECT_EQ(shown.back(), menu + " [About | Disable LVAR Access]");
  {
    // Without the periodic rescan, which comes whenever 30 s have passed.
    Lines lines = module_log::Messages(sim.Module().StartedAt());
    lines.erase(std::remove(lines.begin(), lines.end(), "Check for new LVARS"), lines.end());
    const int at = module_log::IndexOf(lines, "onRecvEvent 101 (24)");
    ASSERT_GE(at, 0);
    ASSERT_LE(static_cast<size_t>(at) + 15, lines.size());
    const int s = SendIdOf(lines[at + 2]);
    const std::string rebuilt = "600 Changes 600 added 0 deleted (Total Vars 600)";
    EXPECT_EQ(module_log::Joined(module_log::Slice(lines, at, at + 15)),
              module_log::Joined({"onRecvEvent 101 (24)", rebuilt, Succeeded("SimConnect_RequestDataOnSimObject", s),
                                  Succeeded("SimConnect_Text", s + 1),
                                  Succeeded("SimConnect_MenuRemoveSubItem(Disable LVAR Access)", s + 2),
                                  Succeeded("SimConnect_MenuAddSubItem(Enable LVAR Access)", s + 3),
                                  "HostRequest 00000005", "Processing disabled", "onRecvEvent 100 (24)", rebuilt,
                                  Succeeded("SimConnect_RequestDataOnSimObject", s + 4),
                                  Succeeded("SimConnect_Text", s + 5),
                                  Succeeded("SimConnect_MenuRemoveSubItem(Enable LVAR Access)", s + 6),
                                  Succeeded("SimConnect_MenuAddSubItem(Disable LVAR Access)", s + 7), forced}));
  }

  // ---- An aircraft change: the title arrives with the next frame; the
  // registry is rebuilt for the new aircraft, the application hears the title.
  simhost::AircraftDescription mjcAircraft;
  std::string error;
  ASSERT_TRUE(simhost::LoadAircraftFile(SIMHOST_AIRCRAFT_DIR "/airliner_mjc.aircraft", &mjcAircraft, &error)) << error;
  sim.Host().ChangeAircraft(mjcAircraft);
  sim.Host().AdvanceFrames(1);
  records::HostEvent event{};
  ASSERT_TRUE(app.TakeEvent(records::kEventAircraftTitle, &event));
  EXPECT_EQ(event.reference, 0u);
  EXPECT_EQ(event.value, 1.21);
  EXPECT_STREQ(event.text, mjcAircraft.title.c_str());
  {
    const Lines lines = module_log::Messages(sim.Module().StartedAt());
    const int at = module_log::IndexOf(lines, "LVARHandler::Update Aircraft changed to " +
                                                  std::to_string(mjcAircraft.title.size()) + " " + mjcAircraft.title);
    ASSERT_GE(at, 0);
    Lines expected;
    for (int twice = 0; twice < 2; ++twice) {
      for (const char* name :
           {"MJC_VAR_READ_VALUE", "MJC_VAR_READ_CODE", "MJC_VAR_WRITE_VALUE", "MJC_VAR_WRITE_CODE"}) {
        expected.push_back(std::string(name) + " = " + std::to_string(aircraft.LookupVariableId(name)));
      }
    }
    expected.push_back("52 Changes 52 added 0 deleted (Total Vars 52)");
    expected.push_back("LVARHandler::SendAircraftName");
    EXPECT_EQ(module_log::Slice(lines, at + 1, at + 1 + expected.size()), expected);
  }

  // ---- MJC: a monitored MJC variable is read through the handshake, a write
  // through it reaches the aircraft, and the monitored value follows.
  ASSERT_TRUE(app.Send(records::kCommandStartMonitoring, "HIDDEN_STATE", 200.0, 2003));
  ASSERT_TRUE(app.TakeVarData("HIDDEN_STATE", &data));
  EXPECT_EQ(data.isMjc, 1u);
  EXPECT_EQ(data.value, 42.5);
  ASSERT_TRUE(app.Send(records::kCommandSetValue, "HIDDEN_STATE", 7.25, 2003));
  ASSERT_TRUE(app.TakeVarData("HIDDEN_STATE", &data));
  EXPECT_EQ(data.isMjc, 1u);
  EXPECT_EQ(data.value, 7.25);
  ASSERT_TRUE(app.Send(records::kCommandSetValue, "LANDING_LIGHT", 0.75, 1020));
  EXPECT_TRUE(module_log::WaitFor("LVARHandler::SetValue LANDING_LIGHT = 0.750000 : SUCCESS"));
  EXPECT_EQ(valueOf("LIGHT_LANDING"), 0.75);
  EXPECT_TRUE(module_log::WaitFor("LVARHandler::StartMonitoring HIDDEN_STATE (200) : success"));
  EXPECT_TRUE(module_log::WaitFor("LVARHandler::ForceUpdate HIDDEN_STATE = 42.500000 : success"));
  EXPECT_TRUE(module_log::WaitFor("LVARHandler::SetValue HIDDEN_STATE = 7.250000 : SUCCESS"));
  // The list names the aircraft's own variables only, but counts the MJC entry.
  ASSERT_TRUE(app.Send(records::kCommandSendLVARS));
  ASSERT_TRUE(app.TakeVarList(&chunks));
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].totalCount, 53u);
  EXPECT_EQ(chunks[1].totalCount, 53u);
  std::vector<std::string> ordinary;
  for (const std::string& name : aircraft.Names()) {
    if (name.compare(0, 8, "MJC_VAR_") != 0) ordinary.push_back(name);
  }
  EXPECT_EQ(AppClient::ListedNames(chunks), ordinary);

  // ---- Quit: the worker leaves on the quit message, DLLStop has nothing
  // left to release; nothing failed on the way.
  EXPECT_TRUE(app.Exceptions().empty());
  app.Close();
  for (const std::string& line : sim.QuitAndStop()) {
    EXPECT_EQ(line.find("FAILED"), std::string::npos) << line;
    EXPECT_EQ(line.find("too short"), std::string::npos) << line;
  }
  EXPECT_TRUE(sim.Console().HasLine(label + " left"));
}

}  // namespace
