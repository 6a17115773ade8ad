// The dispatch of received messages and the add-on menu, linked directly:
// messages too short for their fields, the exception line, the aircraft
// title, the menu's requests, and what is left without a panel table.
#include "bridge/simulator_messages.h"

#include "bridge/module_state.h"
#include "bytes.h"
#include "linked_bridge.h"
#include "lvar/bridge_services.h"

namespace {

using namespace linked_bridge;

void Dispatch(const Bytes8& message) { bridge::SimConnectProcess(message.data(), static_cast<uint32_t>(message.size())); }
// The request that shows `text` for 30 s as scrolling yellow text.
Bytes8 Text(uint32_t sendId, const std::string& text) {
  const auto size = static_cast<uint32_t>(text.size() + 1);
  return Bytes(32 + size).Header(0xF0000040, sendId).U32(16, 5).F32(20, 30.0f).U32(24, 10007).U32(28, size)
      .Text(32, text).vec();
}

using SimulatorMessagesTest = LinkedBridgeTest;

TEST_F(SimulatorMessagesTest, MessagesTooShortForTheirFieldsAreDroppedTheOthersLoggedByKind) {
  const uint32_t tooShort[][2] = {{1, 23}, {4, 19}, {8, 39}, {16, 39}, {0, 11}};  // kind, size
  for (const auto& message : tooShort) Dispatch(MakeReceived(message[0], message[1]));
  Dispatch(Bytes(24).U32(0, 24).U32(4, 4).U32(8, 1).U32(12, 7).U32(16, 42).U32(20, 3).vec());
  Dispatch(MakeReceived(2, 12));
  Dispatch(MakeReceived(0x1234, 12));
  Dispatch(Bytes(20).U32(0, 24).U32(4, 4).U32(8, 4).U32(16, 4711).vec());  // the header's size is logged
  EXPECT_EQ(NewLines(true), (Lines{"SimConnectProcess 00000001 too short: 23 bytes",
                                   "SimConnectProcess 00000004 too short: 19 bytes",
                                   "SimConnectProcess 00000008 too short: 39 bytes",
                                   "SimConnectProcess 00000010 too short: 39 bytes",
                                   "SimConnectProcess message of 11 bytes too short",
                                   "SimConnect: EXCEPTION index=3 sendid=42 exc=7", "SimConnectProcess 00001234",
                                   "onRecvEvent 4711 (24)"}));
  EXPECT_TRUE(connection.Quiet());

  // Every client-data message with its header is the application's
  // heartbeat; only request id 10000 needs a whole request.
  SetTick(20000);
  Dispatch(Bytes(40).U32(0, 40).U32(4, 4).U32(8, 16).U32(12, 9999).vec());
  EXPECT_EQ(handler->lastHeartbeatTick, 20000u);
  SetTick(30000);
  Bytes8 shortRequest = HostRequestMessage(records::kCommandAttention);
  shortRequest.pop_back();
  Dispatch(shortRequest);
  EXPECT_EQ(handler->lastHeartbeatTick, 30000u);
  EXPECT_EQ(NewLines(), Lines{"SimConnectProcess 00000010 too short: 315 bytes"});
}

TEST_F(SimulatorMessagesTest, TheTitleOfRequests10001And10002GoesToTheConnectedApplication) {
  auto title = [](uint32_t requestId, const std::string& text, bool withNul) {
    const auto size = static_cast<uint32_t>(40 + text.size() + (withNul ? 1 : 0));
    return Bytes(size).U32(0, size).U32(4, 4).U32(8, 8).U32(12, requestId).Text(40, text).vec();
  };
  Dispatch(title(10003, "Other", true));
  Dispatch(title(10001, "No terminator", false));
  Connect();
  Dispatch(title(10002, "Beech Baron", true));
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 8, 1.21, "Beech Baron"));
  Dispatch(title(10001, "Cessna 172", true));
  EXPECT_EQ(NextRecord(kHostEventArea), HostEvent(0, 8, 1.21, "Cessna 172"));
  EXPECT_EQ(NewLines(), (Lines{"LVARHandler::Update Aircraft changed to 11 Beech Baron", "LVARHandler::SendAircraftName",
                               "LVARHandler::Update Aircraft changed to 10 Cessna 172",
                               "LVARHandler::SendAircraftName"}));
}

TEST_F(SimulatorMessagesTest, DisableAndEnableSwapTheMenuItemAndTheTitlePeriod) {
  panels.Put(0, "ENGINE_RPM", 1200.0);
  panels.Put(1, "GEAR_DOWN", 1.0);
  auto titleRequest = [](uint32_t sendId, uint32_t period) {
    return Bytes(48).Header(0xF000000E, sendId).U32(16, 10001).U32(20, 1).U32(28, period).vec();
  };
  auto removeItem = [](uint32_t sendId, uint32_t item) {
    return Bytes(24).Header(0xF0000034, sendId).U32(16, 1).U32(20, item).vec();
  };
  auto addItem = [](uint32_t sendId, const char* text, uint32_t item) {
    return Bytes(284).Header(0xF0000033, sendId).U32(16, 1).Text(20, text).U32(276, item).vec();
  };
  Dispatch(MenuEvent(101));
  EXPECT_EQ(connection.Next(), titleRequest(1, 0));
  EXPECT_EQ(connection.Next(), Text(2, "TAVO.quin: LVAR access disabled"));
  EXPECT_EQ(connection.Next(), removeItem(3, 101));
  EXPECT_EQ(connection.Next(), addItem(4, "Enable LVAR Access", 100));
  // Requests are refused until access is enabled again.
  Dispatch(HostRequestMessage(records::kCommandAttention));
  EXPECT_TRUE(connection.Quiet());
  Dispatch(MenuEvent(100));
  EXPECT_EQ(connection.Next(), titleRequest(5, 3));
  EXPECT_EQ(connection.Next(), Text(6, "TAVO.quin: LVAR access enabled"));
  EXPECT_EQ(connection.Next(), removeItem(7, 100));
  EXPECT_EQ(connection.Next(), addItem(8, "Disable LVAR Access", 101));
  Dispatch(HostRequestMessage(records::kCommandAttention));
  EXPECT_EQ(connection.Next(), Text(9, "TAVO.quin needs your attention!"));
  EXPECT_EQ(NewLines(), (Lines{"onRecvEvent 101 (24)", "2 Changes 2 added 0 deleted (Total Vars 2)",
                               "HostRequest 00000006", "Processing disabled", "onRecvEvent 100 (24)",
                               "2 Changes 2 added 0 deleted (Total Vars 2)"}));
}

TEST_F(SimulatorMessagesTest, WithoutAPanelTableOnlyAboutWorks) {
  Panels = nullptr;
  SetTick(20000);
  LVAREntry mjc;
  mjc.mjcCode = 42;
  const std::string noPanels = "NO PANELS, no fish and no chips!";
  Dispatch(HostRequestMessage(records::kCommandHeartbeat));
  Dispatch(MenuEvent(101));
  Dispatch(MenuEvent(100));
  EXPECT_EQ(handler->Update(), kNoTimeout);
  EXPECT_FALSE(handler->ReadMJCValue(mjc));
  handler->OnAircraftTitle("Cessna");
  handler->ScanLVARS(false, true);
  EXPECT_EQ(NewLines(), (Lines{noPanels, "onRecvEvent 101 (24)", "DisableLVARS: No LVARS found.", "onRecvEvent 100 (24)",
                               "EnableLVARS: No LVARS found.", noPanels, noPanels, "No PANELS, no fish!"}));
  EXPECT_EQ(handler->lastHeartbeatTick, 0u);
  EXPECT_TRUE(connection.Quiet());
  Dispatch(MenuEvent(102));
  EXPECT_EQ(connection.Next(), Text(1, "TAVO.quin Simulator Bridge Version 1.0.0.21"));
}

}  // namespace
