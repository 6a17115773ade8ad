// The log file of one short session, line by line: simhost hosts the module
// with a small aircraft, an application connects, the About item is chosen,
// one variable is forced, one unknown name is refused, and the simulator
// quits. Every line is checked exactly; timestamps by their pattern.
#include <gtest/gtest.h>

#include "support/app_client.h"
#include "support/hosted_module.h"
#include "support/module_log.h"

namespace {

using module_log::Lines;
using module_log::Succeeded;

void Append(Lines& lines, const Lines& more) { lines.insert(lines.end(), more.begin(), more.end()); }

TEST(LogFileTest, AShortSessionWritesExactlyTheseLines) {
  ServedOptions options;
  options.aircraft = RampAircraft("Log Test Aircraft", "RAMP_", 3, 10.0, {{"LIGHT_NAV", 1.0}});
  ServedModule sim;
  ASSERT_TRUE(sim.Start(options));

  // The start-up settles: the first Update's rescan, and the title of the
  // once-only request, in whichever order they come.
  const std::string titleLine = "LVARHandler::Update Aircraft changed to 17 Log Test Aircraft";
  ASSERT_TRUE(module_log::WaitFor("Check for new LVARS"));
  ASSERT_TRUE(module_log::WaitFor(titleLine));

  AppClient app;
  ASSERT_TRUE(app.Open(1));
  ASSERT_TRUE(sim.Choose("TAVO.quin/About", "TAVO.quin Simulator Bridge Version 1.0.0.21"));
  ASSERT_TRUE(app.Send(records::kCommandForceUpdate, "light_nav"));
  records::VarData data{};
  ASSERT_TRUE(app.TakeVarData("LIGHT_NAV", &data));
  EXPECT_EQ(data.value, 1.0);
  ASSERT_TRUE(app.Send(records::kCommandStopMonitoring, "NO_SUCH_LVAR"));
  records::HostEvent event{};
  ASSERT_TRUE(app.TakeEvent(records::kEventRefused, &event));
  EXPECT_EQ(event.value, -2.0);
  EXPECT_STREQ(event.text, "NO_SUCH_LVAR");
  app.Close();
  const Lines lines = sim.QuitAndStop();

  Lines expected = module_log::SetupHead();
  // The title may be dispatched before the first Update or after it.
  const std::string built = "4 Changes 4 added 0 deleted (Total Vars 4)";
  const bool rescanFirst = lines.size() > expected.size() && lines[expected.size()] == "Check for new LVARS";
  Append(expected, rescanFirst ? Lines{"Check for new LVARS", built, titleLine, built}
                               : Lines{titleLine, built, "Check for new LVARS"});
  // The Connect reply takes SendID 25 without a line of its own; so does the
  // forced report (27).
  Append(expected, {"LVARHandler::Connect 00007e57", "onRecvEvent 102 (24)", Succeeded("SimConnect_Text", 26),
                    "LVARHandler::ForceUpdate light_nav = 1.000000 : success",
                    "LVARHandler::SendToCLient(0000000d,-2.000000,NO_SUCH_LVAR)", Succeeded("SendToClient", 28),
                    "LVARHandler::StopMonitoring NO_SUCH_LVAR : not found", "Received QUIT Signal!",
                    "SimConnect: SimConnect_Close ==> SUCCESS (SendID = -1)", "DLLSTOP", "DLLSTOP DONE"});
  EXPECT_EQ(module_log::Joined(lines), module_log::Joined(expected));

  // Text mode: every line ends in CR LF, and no bare LF is left.
  const std::string bytes = module_log::Bytes();
  size_t bareNewlines = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) ++bareNewlines;
  }
  EXPECT_EQ(bareNewlines, 0u);
}

}  // namespace
