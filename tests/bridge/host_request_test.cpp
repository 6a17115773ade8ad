// The application's requests as client-data messages, linked directly: the
// checks in their order, then the fifteen command codes, seen in the log and
// in what reaches the server.
#include "bridge/host_request.h"

#include "bridge/module_state.h"
#include "bytes.h"
#include "linked_bridge.h"

namespace {

using namespace linked_bridge;

class HostRequestTest : public LinkedBridgeTest {
 protected:
  void SetUp() override {
    LinkedBridgeTest::SetUp();
    panels.Put(0, "ENGINE_RPM", 1200.0);
    panels.Put(1, "GEAR_DOWN", 1.0);
  }
  static void Send(const Bytes8& message) {
    bridge::ProcessHostRequest(message.data(), static_cast<uint32_t>(message.size()));
  }
  static void Send(uint32_t command, const std::string& name = "", double value = 0.0, uint32_t param = 0) {
    Send(HostRequestMessage(command, name, value, param));
  }
};

TEST_F(HostRequestTest, EachMessageIsAHeartbeatBeforeItsRequestIdAccessAndCommandAreChecked) {
  SetTick(20000);
  Send(HostRequestMessage(records::kCommandAttention, "", 0.0, 0, 0x1234, 9999));
  EXPECT_EQ(handler->lastHeartbeatTick, 20000u);
  // Disabled from the menu: even a code out of range is logged, then lost.
  bridge::accessDisabled = true;
  SetTick(30000);
  Send(15);
  EXPECT_EQ(handler->lastHeartbeatTick, 30000u);
  bridge::accessDisabled = false;
  SetTick(40000);
  for (uint32_t command : {15u, 0xFFFFFFFFu}) Send(command);
  EXPECT_EQ(handler->lastHeartbeatTick, 40000u);
  EXPECT_EQ(NewLines(true), (Lines{"HostRequest 0000000f", "Processing disabled"}));
  EXPECT_TRUE(connection.Quiet());

  // Before Connect the list logs its first line only; only a stop is
  // answered (here: not found); monitoring, setting and forcing do nothing.
  for (uint32_t command : {1, 2, 3, 4, 5}) Send(command, "ENGINE_RPM", 250.0);
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 13, -2.0, "ENGINE_RPM"));
  EXPECT_EQ(NewLines(), (Lines{"LVARHandler::SendLVARS", "LVARHandler::SendToCLient(0000000d,-2.000000,ENGINE_RPM)",
                               "LVARHandler::StopMonitoring ENGINE_RPM : not found"}));
  EXPECT_EQ(panels.Value("ENGINE_RPM"), 1200.0);
  EXPECT_TRUE(connection.Quiet());

  // A name without a NUL in its 256 bytes reads as its first 255 characters.
  Send(records::kCommandSendKeys, std::string(256, 'z'));
  EXPECT_EQ(NewLines(), Lines{"SendKeys " + std::string(255, 'z')});
}

TEST_F(HostRequestTest, TheFifteenCommandsOnceConnected) {
  Send(records::kCommandConnect, "", 0.0, 5);
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0x1234, 7, 1.21, "TAVO.quin Bridge Version 1.0.0.21"));
  NewLines();
  // What each command logs, and the field at 16 of each request it sends:
  // the client-data area, or 5 for a text.
  const uint32_t event = kHostEventArea, data = kVarDataArea, dump = kVarDumpArea, text = 5;
  const struct {
    uint32_t command;
    const char* name;
    Lines lines;
    std::vector<uint32_t> sent;
  } commands[] = {
      {0, "", {"LVARHandler::SendToCLient(0000000c,1200.000000,ENGINE_RPM)",
               "LVARHandler::SendToCLient(0000000c,1.000000,GEAR_DOWN)", "2 Changes 2 added 0 deleted (Total Vars 2)"},
       {event, event}},
      {1, "", {"LVARHandler::SendLVARS", "LVARHandler::SendLVARS End"}, {dump, dump}},
      {2, "ENGINE_RPM", {"LVARHandler::StartMonitoring ENGINE_RPM (250): success",
                         "LVARHandler::ForceUpdate ENGINE_RPM = 1200.000000 : success"}, {data}},
      {3, "ENGINE_RPM", {"LVARHandler::StopMonitoring ENGINE_RPM : success"}, {}},
      {4, "GEAR_DOWN", {"LVARHandler::SetValue GEAR_DOWN = 250.000000 : SUCCESS"}, {}},
      {5, "GEAR_DOWN", {"LVARHandler::ForceUpdate GEAR_DOWN = 250.000000 : success"}, {data}},
      {6, "", {}, {text}},
      {7, "", {"LVARHandler::Connect 00001234", "Already connected."}, {}},
      {9, "", {"LVARHandler::SendAircraftName"}, {event}},
      {10, "17,65", {"SendKeys 17,65", "KeyDown 29 0", "KeyDown 30 0", "KeyUp 29 0", "KeyUp 30 0"}, {}},
  };
  for (const auto& c : commands) {
    Send(c.command, c.name, 250.0, c.command == records::kCommandConnect ? 5 : 0);
    std::vector<uint32_t> sent;
    for (size_t i = 0; i < c.sent.size(); ++i) sent.push_back(U32At(connection.Next(), 16));
    EXPECT_EQ(sent, c.sent) << "command " << c.command;
    EXPECT_EQ(NewLines(), c.lines) << "command " << c.command;
  }
  for (uint32_t command : {8, 11, 12, 13, 14}) Send(command);
  EXPECT_EQ(NewLines(), Lines{});
  EXPECT_TRUE(connection.Quiet());
}

}  // namespace
