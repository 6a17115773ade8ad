// The log file of one short session, line by line: simhost hosts the module
// with the sample airliner, an application connects, the About item is chosen,
// one variable is forced, one unknown name is refused, and the simulator
// quits. Every line is checked exactly; timestamps by their pattern.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_client.h"
#include "bridge_log_file.h"
#include "hosted_bridge.h"
#include "lvar/records.h"

namespace {

using e2e::Lines;
using e2e::Succeeded;

std::string ExecutablePath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

void Append(Lines& lines, const Lines& more) { lines.insert(lines.end(), more.begin(), more.end()); }

TEST(LogFileTest, AShortSessionWritesExactlyTheseLines) {
  const simhost::AircraftDescription airliner = e2e::SampleAircraft("airliner.aircraft");
  ASSERT_EQ(airliner.variables.size(), 52u);
  e2e::HostedBridge sim;
  ASSERT_TRUE(sim.Start(airliner));
  ASSERT_TRUE(sim.WaitUntilReady());

  // The start-up settles: the first Update's rescan, and the title of the
  // once-only request, in whichever order they come.
  const std::string titleLine =
      "LVARHandler::Update Aircraft changed to " + std::to_string(airliner.title.size()) + " " + airliner.title;
  ASSERT_TRUE(e2e::WaitForLogMessage("Check for new LVARS"));
  ASSERT_TRUE(e2e::WaitForLogMessage(titleLine));

  e2e::AppClient app;
  ASSERT_TRUE(app.Open("TAVO.quin e2e application"));
  ASSERT_TRUE(app.Send(records::kCommandConnect, "", 0.0, 1, 0x00A1B2C3));
  records::HostEvent event{};
  ASSERT_TRUE(app.TakeEventCode(records::kEventConnectReply, &event));

  ASSERT_TRUE(sim.Choose("TAVO.quin/About", "TAVO.quin Simulator Bridge Version 1.0.0.21"));

  ASSERT_TRUE(app.Send(records::kCommandForceUpdate, "light_nav"));
  records::VarData data{};
  ASSERT_TRUE(app.TakeVarDataNamed("LIGHT_NAV", &data));
  EXPECT_EQ(data.value, 1.0);

  ASSERT_TRUE(app.Send(records::kCommandStopMonitoring, "NO_SUCH_LVAR"));
  ASSERT_TRUE(app.TakeEventCode(records::kEventRefused, &event));
  EXPECT_EQ(event.value, -2.0);
  EXPECT_STREQ(event.text, "NO_SUCH_LVAR");

  app.Close();
  sim.Stop();

  Lines expected = {
      "DLLSTART 1.0.0.21",
      "Called from " + ExecutablePath(),
      Succeeded("SimConnect_Open", 1),
      "SimConnect: OpenEvent",
      Succeeded("SimConnect_MenuAddItem(TAVO.quin)", 2),
      Succeeded("SimConnect_MenuAddSubItem(About)", 3),
      Succeeded("SimConnect_MenuAddSubItem(Disable LVAR Access)", 4),
      Succeeded("SimConnect_AddToDataDefinition(TITLE)", 5),
      Succeeded("SimConnect_RequestDataOnSimObject", 6),
      Succeeded("SimConnect_RequestDataOnSimObject", 7),
      "LVARHandler::Startup",
  };
  const char* const areas[] = {"VARDATA", "VARDUMP", "HOSTRESQUEST", "HOSTEVENT"};
  int sendId = 8;
  for (const char* area : areas) {
    expected.push_back(Succeeded(std::string("MapClientDataNameToID TAVO_SC_DYN_") + area + "_ID", sendId++));
    expected.push_back(Succeeded(std::string("MapClientDataNameToID TAVO_SC_DYN_") + area + "_DATA", sendId++));
  }
  for (const char* area : areas) {
    expected.push_back(Succeeded(std::string("CreateClientData TAVO_SC_DYN_") + area + "_ID", sendId++));
  }
  for (const char* area : {"HOSTRESQUEST", "VARDUMP", "VARDATA", "HOSTEVENT"}) {
    expected.push_back(Succeeded(std::string("AddToClientDataDefinition TAVO_SC_DYN_") + area + "_DATA", sendId++));
  }
  expected.push_back(Succeeded("RequestClientData TAVO_SC_DYN_HOSTRESQUEST_ID", 24));

  // The title may be dispatched before the first Update or after it.
  const std::string built = "52 Changes 52 added 0 deleted (Total Vars 52)";
  const Lines titleFirst = {titleLine, built, "Check for new LVARS"};
  const Lines updateFirst = {"Check for new LVARS", built, titleLine, built};

  // The Connect reply takes SendID 25 without a line of its own; so does the
  // forced report (27).
  const Lines session = {
      "LVARHandler::Connect 00a1b2c3",
      "onRecvEvent 102 (24)",
      Succeeded("SimConnect_Text", 26),
      "LVARHandler::ForceUpdate light_nav = 1.000000 : success",
      "LVARHandler::SendToCLient(0000000d,-2.000000,NO_SUCH_LVAR)",
      Succeeded("SendToClient", 28),
      "LVARHandler::StopMonitoring NO_SUCH_LVAR : not found",
      "Received QUIT Signal!",
  };
  // The quit ends the worker's loop before DLLStop; its teardown (the close
  // pauses 350 ms in all, and simhost calls DLLStop once the connection has
  // gone) ends inside DLLStop's wait or before DLLStop begins. Either way
  // there is one close, and DLLStop has nothing left to release.
  const std::string close = "SimConnect: SimConnect_Close ==> SUCCESS (SendID = -1)";
  const Lines closedFirst = {close, "DLLSTOP", "DLLSTOP DONE"};
  const Lines stopFirst = {"DLLSTOP", close, "DLLSTOP DONE"};

  const Lines lines = e2e::BridgeLogMessages(sim.StartedAt());
  const bool rescanFirst = lines.size() > expected.size() && lines[expected.size()] == "Check for new LVARS";
  Append(expected, rescanFirst ? updateFirst : titleFirst);
  Append(expected, session);
  const bool stopBeforeClose = lines.size() > expected.size() && lines[expected.size()] == "DLLSTOP";
  Append(expected, stopBeforeClose ? stopFirst : closedFirst);
  EXPECT_EQ(e2e::Joined(lines), e2e::Joined(expected));

  // Text mode: every line ends in CR LF, and no bare LF is left.
  const std::string bytes = e2e::BridgeLogBytes();
  size_t bareNewlines = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) ++bareNewlines;
  }
  EXPECT_EQ(bareNewlines, 0u);
}

}  // namespace
