// SimConnectProcess and onRecvEvent linked directly: messages too short for
// their fields are logged and dropped without a read past their end, the
// exception line, the title, and the menu's requests in their order.
#include "bridge/simulator_messages.h"

#include <winsock2.h>
#include <windows.h>

#include <cstring>

#include "dispatch_fixture.h"

namespace {

using bridge_test::GuardedMessage;

class SimulatorMessagesTest : public DispatchTest {
 protected:
  static void Dispatch(GuardedMessage& message) { bridge::SimConnectProcess(message.data(), message.size()); }
  static void MenuEvent(uint32_t eventId) {
    GuardedMessage event(4, 24);
    event.U32(16, eventId);
    Dispatch(event);
  }
  // An object-data message whose data is `text` (with its NUL when `withNul`),
  // ending right where the text does.
  static std::unique_ptr<GuardedMessage> TitleMessage(uint32_t requestId, const std::string& text, bool withNul) {
    auto message = std::make_unique<GuardedMessage>(8, static_cast<uint32_t>(40 + text.size() + (withNul ? 1 : 0)));
    message->U32(12, requestId);
    std::memcpy(message->data() + 40, text.data(), text.size());
    return message;
  }
};

TEST_F(SimulatorMessagesTest, MessagesTooShortForTheirFieldsAreLoggedAndDropped) {
  GuardedMessage exception(1, 23), event(4, 19), title(8, 39), request(16, 39), headerless(0, 11);
  event.U32(0, 19);
  title.U32(12, 10002);
  bridge_test::SetTick(200000);
  for (GuardedMessage* message : {&exception, &event, &title, &request, &headerless}) Dispatch(*message);
  EXPECT_EQ(TakeLines(), (Lines{
                             "SimConnectProcess 00000001 too short: 23 bytes",
                             "SimConnectProcess 00000004 too short: 19 bytes",
                             "SimConnectProcess 00000008 too short: 39 bytes",
                             "SimConnectProcess 00000010 too short: 39 bytes",
                             "SimConnectProcess message of 11 bytes too short",
                         }));
  // Without its request id the client-data message counted as no heartbeat.
  EXPECT_EQ(handler->lastHeartbeatTick, 100000u);
  EXPECT_TRUE(NothingSent());
}

TEST_F(SimulatorMessagesTest, EveryClientDataMessageWithItsHeaderIsAHeartbeat) {
  // Another request id needs nothing beyond the 40-byte header.
  GuardedMessage other(16, 40), request(16, 315);
  other.U32(12, 9999);
  request.U32(12, 10000);
  bridge_test::SetTick(200000);
  Dispatch(other);
  EXPECT_EQ(handler->lastHeartbeatTick, 200000u);
  EXPECT_EQ(TakeLines(), Lines{});

  // Request id 10000 needs the whole record: a short one is a heartbeat all
  // the same, then dropped with its size.
  bridge_test::SetTick(300000);
  Dispatch(request);
  EXPECT_EQ(handler->lastHeartbeatTick, 300000u);
  EXPECT_EQ(TakeLines(), Lines{"SimConnectProcess 00000010 too short: 315 bytes"});

  // Without Panels the header alone is refused before its heartbeat.
  Panels = nullptr;
  bridge_test::SetTick(400000);
  Dispatch(other);
  EXPECT_EQ(handler->lastHeartbeatTick, 300000u);
  EXPECT_EQ(TakeLines(), Lines{"NO PANELS, no fish and no chips!"});
  EXPECT_TRUE(NothingSent());
}

TEST_F(SimulatorMessagesTest, FieldsAreReadUpToTheLastByteExceptionsLoggedUnknownKindsNamed) {
  // Each message just long enough for its fields, ending at the guard page.
  GuardedMessage exception(1, 24), open(2, 12), unknown(0x1234, 12), event(4, 20);
  exception.U32(12, 7);
  exception.U32(16, 42);
  exception.U32(20, 3);
  event.U32(0, 24);  // the header's own size is what the line shows
  event.U32(16, 4711);
  for (GuardedMessage* message : {&exception, &open, &unknown, &event}) Dispatch(*message);
  EXPECT_EQ(TakeLines(), (Lines{"SimConnect: EXCEPTION index=3 sendid=42 exc=7", "SimConnectProcess 00001234",
                                "onRecvEvent 4711 (24)"}));
  EXPECT_TRUE(NothingSent());
}

TEST_F(SimulatorMessagesTest, TitleOfRequests10001And10002GoesToTheHandler) {
  auto other = TitleMessage(10003, "Other", true);
  auto unterminated = TitleMessage(10001, "No terminator", false);
  Dispatch(*other);
  Dispatch(*unterminated);
  EXPECT_STREQ(handler->aircraftTitle, "AIRCRAFT NOT KNOWN");
  EXPECT_EQ(TakeLines(), Lines{});

  auto title = TitleMessage(10002, "Beech Baron", true);
  Dispatch(*title);
  EXPECT_STREQ(handler->aircraftTitle, "Beech Baron");
  Lines lines = TakeLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "LVARHandler::Update Aircraft changed to 11 Beech Baron");
}

TEST_F(SimulatorMessagesTest, DisableThenEnableSwapsTheMenuItemAndTheTitlePeriod) {
  MenuEvent(101);
  EXPECT_TRUE(bridge::accessDisabled);
  Bytes8 cancel = connection.NextRequest(), text = connection.NextRequest(), remove = connection.NextRequest(),
         add = connection.NextRequest();
  EXPECT_EQ(U32(cancel, 8), 0xF000000Eu);
  EXPECT_EQ(U32(cancel, 16), 10001u);
  EXPECT_EQ(U32(cancel, 28), 0u);  // never
  EXPECT_EQ(TextAt(text, 32), "TAVO.quin: LVAR access disabled");
  EXPECT_EQ(U32(text, 28), 32u);
  EXPECT_EQ(U32(remove, 8), 0xF0000034u);
  EXPECT_EQ(U32(remove, 16), 1u);
  EXPECT_EQ(U32(remove, 20), 101u);
  EXPECT_EQ(U32(add, 8), 0xF0000033u);
  EXPECT_EQ(TextAt(add, 20), "Enable LVAR Access");
  EXPECT_EQ(U32(add, 276), 100u);
  EXPECT_EQ(TakeLines(),
            (Lines{"onRecvEvent 101 (24)", "2 Changes 2 added 0 deleted (Total Vars 2)",
                   "SimConnect: SimConnect_RequestDataOnSimObject ==> SUCCESS (SendID = " + SendIdOf(cancel) + ")",
                   "SimConnect: SimConnect_Text ==> SUCCESS (SendID = " + SendIdOf(text) + ")",
                   "SimConnect: SimConnect_MenuRemoveSubItem(Disable LVAR Access) ==> SUCCESS (SendID = " +
                       SendIdOf(remove) + ")",
                   "SimConnect: SimConnect_MenuAddSubItem(Enable LVAR Access) ==> SUCCESS (SendID = " +
                       SendIdOf(add) + ")"}));

  // While disabled the application's requests are refused.
  auto attention = HostRequestMessage(records::kCommandAttention);
  bridge::SimConnectProcess(attention->data(), attention->size());
  EXPECT_EQ(TakeLines(), (Lines{"HostRequest 00000006", "Processing disabled"}));

  MenuEvent(100);
  EXPECT_FALSE(bridge::accessDisabled);
  Bytes8 resume = connection.NextRequest();
  EXPECT_EQ(U32(resume, 28), 3u);  // every simulation frame
  EXPECT_EQ(TextAt(connection.NextRequest(), 32), "TAVO.quin: LVAR access enabled");
  EXPECT_EQ(U32(connection.NextRequest(), 20), 100u);
  Bytes8 addDisable = connection.NextRequest();
  EXPECT_EQ(TextAt(addDisable, 20), "Disable LVAR Access");
  EXPECT_EQ(U32(addDisable, 276), 101u);
  Lines lines = TakeLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "onRecvEvent 100 (24)");
  EXPECT_EQ(lines[4], "SimConnect: SimConnect_MenuRemoveSubItem(Enable LVAR Access) ==> SUCCESS (SendID = " +
                          std::to_string(U32(addDisable, 12) - 1) + ")");
}

TEST_F(SimulatorMessagesTest, WithoutPanelsOnlyAboutWorks) {
  Panels = nullptr;
  MenuEvent(101);
  MenuEvent(100);
  EXPECT_FALSE(bridge::accessDisabled);
  EXPECT_TRUE(NothingSent());
  MenuEvent(102);
  Bytes8 about = connection.NextRequest();
  EXPECT_EQ(TextAt(about, 32), "TAVO.quin Simulator Bridge Version 1.0.0.21");
  EXPECT_EQ(U32(about, 28), 44u);
  EXPECT_EQ(TakeLines(), (Lines{"onRecvEvent 101 (24)", "DisableLVARS: No LVARS found.", "onRecvEvent 100 (24)",
                                "EnableLVARS: No LVARS found.", "onRecvEvent 102 (24)",
                                "SimConnect: SimConnect_Text ==> SUCCESS (SendID = " + SendIdOf(about) + ")"}));
}

}  // namespace
