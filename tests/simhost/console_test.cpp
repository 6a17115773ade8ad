// simhost.exe as the demo runs it: hosting the built TVOBridge64.dll with the
// sample airliner (LoadLibraryW, the panel table in Panels, DLLStart; at the
// end the quit message, then DLLStop, then FreeLibrary), taking the console
// commands the demo types (choose, aircraft, stop), with the options that
// tests start it with (no window, no TCP, no registry ports).
#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/hosted_module.h"
#include "support/module_log.h"
#include "support/paths.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(ConsoleTest, SimhostHostsTheModuleAndTakesTheDemosCommands) {
  const std::wstring program = WindowsPath(TVO_SIMHOST_EXE), aircraft = WindowsPath(SIMHOST_AIRCRAFT_DIR);
  const std::time_t started = std::time(nullptr);
  ChildProcess simhost;
  ASSERT_TRUE(simhost.Start(program,
                            L"--aircraft " + aircraft + L"\\airliner.aircraft --addon " + BridgeModulePath() +
                                L" --no-window --no-tcp --no-registry",
                            {/*input=*/true, /*separateErrors=*/false}));
  ASSERT_TRUE(simhost.WaitForOutput("client data \"TAVO_SC_DYN_HOSTEVENT_ID\"", 20000)) << simhost.Output();
  // The module found the airliner's variables through the panel table.
  EXPECT_TRUE(module_log::WaitFor("52 Changes 52 added 0 deleted (Total Vars 52)"));

  ASSERT_TRUE(simhost.WriteInput("choose TAVO.quin/About\n"));
  EXPECT_TRUE(
      simhost.WaitForOutput("text from client 1 \"TAVO.quin.Bridge\" (type 5 scrolling yellow, 30.0 s): "
                            "TAVO.quin Simulator Bridge Version 1.0.0.21"));
  ASSERT_TRUE(simhost.WriteInput("aircraft " + Narrow(aircraft) + "\\airliner_mjc.aircraft\n"));
  EXPECT_TRUE(simhost.WaitForOutput("aircraft changed to \"TAVO Twinjet 320 MJC (simhost sample)\" (56 variables)"));
  EXPECT_TRUE(module_log::WaitFor("LVARHandler::Update Aircraft changed to 37 TAVO Twinjet 320 MJC (simhost sample)"));
  ASSERT_TRUE(simhost.WriteInput("stop\n"));
  EXPECT_EQ(simhost.Wait(), 0);

  // The add-on's life in simhost's order: the quit message comes before DLLStop.
  const std::string out = simhost.Output();
  size_t at = 0;
  for (const char* step : {"TVOBridge64.dll loaded, panel services at", "TVOBridge64.dll started (DLLStart returned",
                           "shutting down: quit message to 1 clients", "client 1 \"TAVO.quin.Bridge\" left",
                           "TVOBridge64.dll stopped", "TVOBridge64.dll unloaded", "stopped"}) {
    at = out.find(step, at);
    ASSERT_NE(at, std::string::npos) << step << "\n" << out;
  }
  const module_log::Lines lines = module_log::Messages(started);
  EXPECT_EQ(module_log::IndexOf(lines, "Called from " + Narrow(program)), 1);
  // DLLStop may come before the worker has logged its close; never before the quit.
  EXPECT_EQ(module_log::CountOf(lines, "Received QUIT Signal!"), 1u);
  EXPECT_LT(module_log::IndexOf(lines, "Received QUIT Signal!"), module_log::IndexOf(lines, "DLLSTOP"));
  EXPECT_EQ(lines.back(), "DLLSTOP DONE");
}

}  // namespace
