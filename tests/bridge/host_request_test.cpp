// ProcessHostRequest linked directly: the checks in their order, then the
// routing of the fifteen command codes, observed in the log and in the
// requests that reach the server.
#include "bridge/host_request.h"

#include <winsock2.h>
#include <windows.h>

#include <cstring>

#include "dispatch_fixture.h"

namespace {

class HostRequestTest : public DispatchTest {
 protected:
  void Send(uint32_t command, const char* name = "", double value = 0.0, uint32_t param = 0,
            uint32_t requestId = 10000, uint32_t tag = 0x1234) {
    auto message = HostRequestMessage(command, name, value, param, requestId, tag);
    bridge::ProcessHostRequest(message->data(), message->size());
  }
};

TEST_F(HostRequestTest, WithoutPanelsEveryRequestIsRefusedBeforeItsHeartbeat) {
  Panels = nullptr;
  bridge_test::SetTick(200000);
  Send(records::kCommandAttention);
  Send(records::kCommandHeartbeat);
  EXPECT_EQ(TakeLines(), (Lines{"NO PANELS, no fish and no chips!", "NO PANELS, no fish and no chips!"}));
  EXPECT_EQ(handler->lastHeartbeatTick, 100000u);
  EXPECT_TRUE(NothingSent());
}

TEST_F(HostRequestTest, HeartbeatComesBeforeTheRequestIdAccessAndCommandChecks) {
  // Another request id: the heartbeat only.
  bridge_test::SetTick(200000);
  Send(records::kCommandAttention, "", 0.0, 0, 9999);
  EXPECT_EQ(handler->lastHeartbeatTick, 200000u);

  // Access disabled from the menu: two lines, the request is lost.
  bridge::accessDisabled = true;
  bridge_test::SetTick(300000);
  Send(records::kCommandAttention);
  EXPECT_EQ(handler->lastHeartbeatTick, 300000u);
  bridge::accessDisabled = false;

  // Codes above 14 are ignored without a word; 8, 11, 12 and 13 do nothing.
  bridge_test::SetTick(400000);
  for (uint32_t command : {15u, 0xFFFFFFFFu, 8u, 11u, 12u, 13u}) Send(command);
  EXPECT_EQ(handler->lastHeartbeatTick, 400000u);

  EXPECT_EQ(TakeLines(), (Lines{"HostRequest 00000006", "Processing disabled"}));
  EXPECT_TRUE(NothingSent());
}

TEST_F(HostRequestTest, AttentionAndKeysWorkBeforeConnectTheOthersWaitForIt) {
  Send(records::kCommandAttention);
  Bytes8 text = connection.NextRequest();
  ASSERT_EQ(text.size(), 32u + 32u);
  EXPECT_EQ(U32(text, 8), 0xF0000040u);
  EXPECT_EQ(U32(text, 16), 5u);
  EXPECT_EQ(U32(text, 20), 0x41F00000u);  // 30.0f
  EXPECT_EQ(U32(text, 24), 10007u);
  EXPECT_EQ(U32(text, 28), 32u);  // the text and its NUL
  EXPECT_EQ(TextAt(text, 32), "TAVO.quin needs your attention!");
  EXPECT_EQ(TakeLines(), (Lines{"SimConnect: SimConnect_Text ==> SUCCESS (SendID = " + SendIdOf(text) + ")"}));

  // Not connected: the list logs its first line only; monitor, set and force
  // do nothing at all.
  Send(records::kCommandSendLVARS);
  Send(records::kCommandStartMonitoring, "ENGINE_RPM", 250.0);
  Send(records::kCommandSetValue, "GEAR_DOWN", 0.0);
  Send(records::kCommandForceUpdate, "ENGINE_RPM");
  EXPECT_EQ(TakeLines(), (Lines{"LVARHandler::SendLVARS"}));
  EXPECT_TRUE(NothingSent());

  // A name without a NUL in its 256 bytes is read as its first 255 characters.
  auto unterminated = HostRequestMessage(records::kCommandSendKeys);
  std::memset(unterminated->data() + 40 + 12, 'z', 256);
  bridge::ProcessHostRequest(unterminated->data(), unterminated->size());
  EXPECT_EQ(TakeLines(), (Lines{"SendKeys " + std::string(255, 'z')}));

  Send(records::kCommandSendKeys, "17,65");
  const int control = static_cast<int>(MapVirtualKeyA(17, 0) & 0xFFFF);
  const int letterA = static_cast<int>(MapVirtualKeyA(65, 0) & 0xFFFF);
  EXPECT_EQ(control, 0x1D);
  EXPECT_EQ(letterA, 0x1E);
  const std::string down = "KeyDown ", up = "KeyUp ";
  EXPECT_EQ(TakeLines(), (Lines{"SendKeys 17,65", down + std::to_string(control) + " 0",
                                down + std::to_string(letterA) + " 0", up + std::to_string(control) + " 0",
                                up + std::to_string(letterA) + " 0"}));
}

TEST_F(HostRequestTest, CommandsReachTheirOperationsOnceConnected) {
  Send(records::kCommandConnect, "", 0.0, 5, 10000, 0xABCD);
  Bytes8 reply = connection.NextRequest();
  ASSERT_EQ(reply.size(), 36u + 1044u);
  EXPECT_EQ(U32(reply, 8), 0xF000003Cu);
  EXPECT_EQ(U32(reply, 16), 0x4C565207u);
  EXPECT_EQ(U32(reply, 36), 0xABCDu);  // reference = tag
  EXPECT_EQ(U32(reply, 40), 7u);
  EXPECT_EQ(TextAt(reply, 36 + 20), "TAVO.quin Bridge Version 1.0.0.21");
  // The same peer again: answered by the log line only.
  Send(records::kCommandConnect, "", 0.0, 5, 10000, 0xABCD);
  EXPECT_EQ(TakeLines(), (Lines{"LVARHandler::Connect 0000abcd", "LVARHandler::Connect 0000abcd", "Already connected."}));
  EXPECT_TRUE(handler->connected);

  // 0: rebuild with notification, one code-12 event per variable.
  Send(records::kCommandRebuild);
  EXPECT_EQ(U32(connection.NextRequest(), 40), 12u);
  EXPECT_EQ(U32(connection.NextRequest(), 40), 12u);
  EXPECT_EQ(handler->registry.size(), 2u);

  // 2, 5, 3, 4 and 9.
  Send(records::kCommandStartMonitoring, "ENGINE_RPM", 250.0);
  Bytes8 varData = connection.NextRequest();
  EXPECT_EQ(U32(varData, 16), 0x4C565201u);
  EXPECT_EQ(TextAt(varData, 36 + 12), "ENGINE_RPM");
  EXPECT_TRUE(handler->registry.Find("ENGINE_RPM")->monitored);
  EXPECT_EQ(handler->registry.Find("ENGINE_RPM")->intervalMs, 250u);
  Send(records::kCommandForceUpdate, "GEAR_DOWN");
  EXPECT_EQ(TextAt(connection.NextRequest(), 36 + 12), "GEAR_DOWN");
  Send(records::kCommandStopMonitoring, "ENGINE_RPM");
  EXPECT_FALSE(handler->registry.Find("ENGINE_RPM")->monitored);
  Send(records::kCommandSetValue, "GEAR_DOWN", 0.0);
  Send(records::kCommandSendAircraftName);
  Bytes8 title = connection.NextRequest();
  EXPECT_EQ(U32(title, 40), 8u);
  EXPECT_EQ(TextAt(title, 36 + 20), "AIRCRAFT NOT KNOWN");

  // 14: the heartbeat, counted twice over at the same tick.
  bridge_test::SetTick(160000);
  Send(records::kCommandHeartbeat);
  EXPECT_EQ(handler->lastHeartbeatTick, 160000u);

  // 1: the list, one chunk and the closing record.
  Send(records::kCommandSendLVARS);
  Bytes8 chunk = connection.NextRequest();
  Bytes8 closing = connection.NextRequest();
  EXPECT_EQ(TextAt(chunk, 36 + 12), "ENGINE_RPM;GEAR_DOWN;");
  EXPECT_EQ(U32(closing, 36 + 4), 0xFFFFFFFFu);

  Lines lines = TakeLines();
  auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
  EXPECT_TRUE(has("2 Changes 2 added 0 deleted (Total Vars 2)"));
  EXPECT_TRUE(has("LVARHandler::StartMonitoring ENGINE_RPM (250): success"));
  EXPECT_TRUE(has("LVARHandler::ForceUpdate GEAR_DOWN = 1.000000 : success"));
  EXPECT_TRUE(has("LVARHandler::StopMonitoring ENGINE_RPM : success"));
  EXPECT_TRUE(has("LVARHandler::SetValue GEAR_DOWN = 0.000000 : SUCCESS"));
  EXPECT_TRUE(has("LVARHandler::SendAircraftName"));
  EXPECT_TRUE(has("LVARHandler::SendLVARS End"));
}

}  // namespace
