// The server driven by the project's own SimConnect client library over a
// real named pipe: the open reply, the aircraft title at each period, client
// data relayed between two clients, menu events reaching the client that added
// the entry, and on-screen texts on the console.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "aircraft_file.h"
#include "simconnect/SimConnect.h"
#include "simhost_test_env.h"

using namespace simhost;

namespace {

constexpr uint32_t kTitleDefinition = 1;

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pipe = UniquePipeName("server");
    ASSERT_TRUE(WriteClientConfig({{1, "Pipe", ".", Narrow(pipe)}}));
    options = TestHostOptions(pipe, log);
  }

  void StartHost() {
    std::string error;
    ASSERT_TRUE(host.Start(options, &error)) << error;
  }

  // Opens a client, takes its open reply and defines the title (definition 1)
  // for markers.
  void Open(LibraryClient& client, const char* name) {
    ASSERT_EQ(S_OK, client.Open(name, 1));
    Received reply;
    ASSERT_TRUE(client.NextOfKind(2, &reply));
    ASSERT_EQ(S_OK, SimConnect_AddToDataDefinition(client.handle(), kTitleDefinition, "TITLE", nullptr, 10, 0.0f,
                                                   0xFFFFFFFF));
  }

  // Every message the client received before the server answered a marker
  // request: the server has by then handled all earlier requests.
  std::vector<Received> Sync(LibraryClient& client) {
    std::vector<Received> before;
    EXPECT_TRUE(client.CollectUntilMarker(kTitleDefinition, 0x7E57 + markers_, &before));
    ++markers_;
    return before;
  }

  LogCapture log;
  std::wstring pipe;
  SimHostOptions options;
  SimHost host;

 private:
  uint32_t markers_ = 0;
};

AircraftDescription Titled(const std::string& title) {
  AircraftDescription description;
  std::string error;
  EXPECT_TRUE(ParseAircraft("title " + title + "\nvar X 1\n", &description, &error)) << error;
  return description;
}

std::map<uint32_t, int> CountByRequestId(const std::vector<Received>& messages, uint32_t kind) {
  std::map<uint32_t, int> counts;
  for (const Received& m : messages) {
    if (m.Kind() == kind) ++counts[m.U32(12)];
  }
  return counts;
}

}  // namespace

TEST_F(ServerTest, EachClientGetsTheOpenReplyWithItsOwnConnectionNumber) {
  StartHost();
  LibraryClient alpha, beta;
  ASSERT_EQ(S_OK, alpha.Open("Alpha", 1));
  ASSERT_EQ(S_OK, beta.Open("Beta", 1));
  Received a, b;
  ASSERT_TRUE(alpha.Next(&a));
  ASSERT_TRUE(beta.Next(&b));
  ASSERT_EQ(308u, a.bytes.size());
  EXPECT_EQ(308u, a.Size());
  EXPECT_EQ(6u, a.U32(4));  // the simulator's version
  EXPECT_EQ(2u, a.Kind());
  EXPECT_EQ("Prepar3D v6 (simhost)", a.Text(12));
  EXPECT_EQ(6u, a.U32(268));
  EXPECT_EQ(6u, a.U32(284));
  EXPECT_EQ(0u, a.U32(304));
  EXPECT_NE(0u, a.U32(300));
  EXPECT_NE(0u, b.U32(300));
  EXPECT_NE(a.U32(300), b.U32(300));

  EXPECT_TRUE(log.WaitForLine("client " + std::to_string(a.U32(300)) + " \"Alpha\" opened (pipe)"));
  EXPECT_TRUE(log.WaitForLine("client " + std::to_string(b.U32(300)) + " \"Beta\" opened (pipe)"));
  alpha.Close();
  EXPECT_TRUE(log.WaitForLine("client " + std::to_string(a.U32(300)) + " \"Alpha\" left"));
  EXPECT_EQ(1u, host.Core().SessionCount());
}

TEST_F(ServerTest, TheTitleArrivesOnceEveryFrameEverySecondOrNever) {
  options.haveAircraft = true;
  options.aircraft = Titled("First Aircraft");
  StartHost();
  LibraryClient client;
  Open(client, "Titles");

  ASSERT_EQ(S_OK, SimConnect_RequestDataOnSimObject(client.handle(), 10002, kTitleDefinition, 0, 1, 0, 0, 0, 0));
  Received once;
  ASSERT_TRUE(client.NextOfKind(8, &once));
  ASSERT_EQ(300u, once.bytes.size());
  EXPECT_EQ(300u, once.Size());
  EXPECT_EQ(10002u, once.U32(12));  // request id
  EXPECT_EQ(1u, once.U32(16));      // the user aircraft
  EXPECT_EQ(kTitleDefinition, once.U32(20));
  EXPECT_EQ(1u, once.U32(28));  // entry 1 of 1
  EXPECT_EQ(1u, once.U32(32));
  EXPECT_EQ(1u, once.U32(36));  // one datum
  EXPECT_EQ("First Aircraft", once.Text(40));
  for (size_t i = 40 + 14; i < 300; ++i) ASSERT_EQ(0, once.bytes[i]) << i;

  // Every frame (3) and every second (4): nothing until frames run.
  ASSERT_EQ(S_OK, SimConnect_RequestDataOnSimObject(client.handle(), 10001, kTitleDefinition, 0, 3, 0, 0, 0, 0));
  ASSERT_EQ(S_OK, SimConnect_RequestDataOnSimObject(client.handle(), 10003, kTitleDefinition, 0, 4, 0, 0, 0, 0));
  EXPECT_TRUE(Sync(client).empty());
  host.AdvanceFrames(60);  // two simulated seconds at 30 frames a second
  std::map<uint32_t, int> counts = CountByRequestId(Sync(client), 8);
  EXPECT_EQ(60, counts[10001]);
  EXPECT_EQ(2, counts[10003]);
  EXPECT_EQ(2u, counts.size());

  // An aircraft change shows in the following messages: frame 61 is due for
  // both requests.
  host.ChangeAircraft(Titled("Second Aircraft"));
  host.AdvanceFrames(1);
  std::vector<Received> after = Sync(client);
  ASSERT_EQ(2u, after.size());
  EXPECT_EQ("Second Aircraft", after[0].Text(40));
  EXPECT_EQ("Second Aircraft", after[1].Text(40));
  EXPECT_TRUE(log.HasLine("aircraft changed to \"Second Aircraft\" (1 variables)"));

  // Period 0 cancels; cancelling twice is no fault.
  ASSERT_EQ(S_OK, SimConnect_RequestDataOnSimObject(client.handle(), 10001, kTitleDefinition, 0, 0, 0, 0, 0, 0));
  ASSERT_EQ(S_OK, SimConnect_RequestDataOnSimObject(client.handle(), 10003, kTitleDefinition, 0, 0, 0, 0, 0, 0));
  ASSERT_EQ(S_OK, SimConnect_RequestDataOnSimObject(client.handle(), 10003, kTitleDefinition, 0, 0, 0, 0, 0, 0));
  Sync(client);
  host.AdvanceFrames(90);
  EXPECT_TRUE(Sync(client).empty());

  // A definition with the title twice carries it twice.
  ASSERT_EQ(S_OK, SimConnect_AddToDataDefinition(client.handle(), 2, "title", nullptr, 10, 0.0f, 0));
  ASSERT_EQ(S_OK, SimConnect_AddToDataDefinition(client.handle(), 2, "TITLE", nullptr, 10, 0.0f, 0));
  ASSERT_EQ(S_OK, SimConnect_RequestDataOnSimObject(client.handle(), 20, 2, 0, 1, 0, 0, 0, 0));
  Received twice;
  ASSERT_TRUE(client.NextOfKind(8, &twice));
  EXPECT_EQ(40u + 2 * 260, twice.Size());
  EXPECT_EQ(2u, twice.U32(36));
  EXPECT_EQ("Second Aircraft", twice.Text(40 + 260));
}

TEST_F(ServerTest, ClientDataIsRelayedBetweenTwoClients) {
  StartHost();
  LibraryClient bridge, app;
  Open(bridge, "Bridge");
  Open(app, "App");
  HANDLE b = bridge.handle();
  HANDLE a = app.handle();

  // The bridge's side: its ids, its areas, its definitions, its subscription.
  ASSERT_EQ(S_OK, SimConnect_MapClientDataNameToID(b, "TAVO_SC_DYN_HOSTRESQUEST_ID", 0x4C565205));
  ASSERT_EQ(S_OK, SimConnect_MapClientDataNameToID(b, "TAVO_SC_DYN_VARDATA_ID", 0x4C565201));
  ASSERT_EQ(S_OK, SimConnect_CreateClientData(b, 0x4C565201, 268, 0));
  ASSERT_EQ(S_OK, SimConnect_CreateClientData(b, 0x4C565205, 276, 0));
  ASSERT_EQ(S_OK, SimConnect_AddToClientDataDefinition(b, 0x4C565206, 0, 276, 0.0f, 0xFFFFFFFF));
  ASSERT_EQ(S_OK, SimConnect_AddToClientDataDefinition(b, 0x4C565202, 0, 268, 0.0f, 0xFFFFFFFF));
  ASSERT_EQ(S_OK, SimConnect_RequestClientData(b, 0x4C565205, 10000, 0x4C565206, 3, 0, 0, 0, 0));
  EXPECT_TRUE(Sync(bridge).empty());
  EXPECT_TRUE(log.HasLine("client data \"TAVO_SC_DYN_HOSTRESQUEST_ID\" (276 bytes) created by client 1 \"Bridge\""));

  // The application knows the same areas under ids of its own; creating an
  // area that exists with the same size is accepted.
  ASSERT_EQ(S_OK, SimConnect_MapClientDataNameToID(a, "TAVO_SC_DYN_HOSTRESQUEST_ID", 7));
  ASSERT_EQ(S_OK, SimConnect_MapClientDataNameToID(a, "TAVO_SC_DYN_VARDATA_ID", 8));
  ASSERT_EQ(S_OK, SimConnect_CreateClientData(a, 7, 276, 0));
  ASSERT_EQ(S_OK, SimConnect_AddToClientDataDefinition(a, 70, 0, 276, 0.0f, 0));
  ASSERT_EQ(S_OK, SimConnect_AddToClientDataDefinition(a, 80, 0, 268, 0.0f, 0));
  ASSERT_EQ(S_OK, SimConnect_AddToClientDataDefinition(a, 71, 8, 4, 0.0f, 0));
  ASSERT_EQ(S_OK, SimConnect_RequestClientData(a, 8, 500, 80, 3, 0, 0, 0, 0));
  EXPECT_TRUE(Sync(app).empty());

  // The application writes a request: the bridge receives it as request 10000.
  std::vector<uint8_t> request(276);
  for (size_t i = 0; i < request.size(); ++i) request[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_EQ(S_OK, SimConnect_SetClientData(a, 7, 70, 0, 0, 276, request.data()));
  Received relayed;
  ASSERT_TRUE(bridge.NextOfKind(16, &relayed));
  ASSERT_EQ(40u + 276, relayed.Size());
  EXPECT_EQ(10000u, relayed.U32(12));
  EXPECT_EQ(0x4C565205u, relayed.U32(16));  // the bridge's id for the area
  EXPECT_EQ(0x4C565206u, relayed.U32(20));
  EXPECT_EQ(1u, relayed.U32(36));
  EXPECT_EQ(0, std::memcmp(request.data(), relayed.bytes.data() + 40, 276));

  // A write through a partial definition changes only its bytes.
  const uint8_t patch[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  ASSERT_EQ(S_OK, SimConnect_SetClientData(a, 7, 71, 0, 0, 4, patch));
  ASSERT_TRUE(bridge.NextOfKind(16, &relayed));
  std::memcpy(request.data() + 8, patch, 4);
  EXPECT_EQ(0, std::memcmp(request.data(), relayed.bytes.data() + 40, 276));

  // The bridge writes a value: the application, subscribed, receives it; the
  // writer itself, not subscribed to that area, does not.
  std::vector<uint8_t> value(268, 0x5A);
  ASSERT_EQ(S_OK, SimConnect_SetClientData(b, 0x4C565201, 0x4C565202, 0, 0, 268, value.data()));
  ASSERT_TRUE(app.NextOfKind(16, &relayed));
  EXPECT_EQ(500u, relayed.U32(12));
  EXPECT_EQ(8u, relayed.U32(16));
  EXPECT_EQ(80u, relayed.U32(20));
  EXPECT_EQ(0, std::memcmp(value.data(), relayed.bytes.data() + 40, 268));
  for (const Received& m : Sync(bridge)) EXPECT_NE(16u, m.Kind());

  // Period 1 sends what the area holds now; period 4 sends once a second.
  ASSERT_EQ(S_OK, SimConnect_RequestClientData(a, 7, 501, 70, 1, 0, 0, 0, 0));
  ASSERT_TRUE(app.NextOfKind(16, &relayed));
  EXPECT_EQ(501u, relayed.U32(12));
  EXPECT_EQ(0, std::memcmp(request.data(), relayed.bytes.data() + 40, 276));
  ASSERT_EQ(S_OK, SimConnect_RequestClientData(a, 7, 502, 70, 4, 0, 0, 0, 0));
  Sync(app);
  host.AdvanceFrames(90);
  EXPECT_EQ(3, CountByRequestId(Sync(app), 16)[502]);

  // Period 0 ends a subscription: the next write reaches nobody.
  ASSERT_EQ(S_OK, SimConnect_RequestClientData(a, 8, 500, 80, 0, 0, 0, 0, 0));
  ASSERT_EQ(S_OK, SimConnect_RequestClientData(a, 7, 502, 70, 0, 0, 0, 0, 0));
  Sync(app);
  ASSERT_EQ(S_OK, SimConnect_SetClientData(b, 0x4C565201, 0x4C565202, 0, 0, 268, value.data()));
  Sync(bridge);
  EXPECT_TRUE(CountByRequestId(Sync(app), 16).empty());

  // A write of the wrong size, to an unmapped id, or a creation with another
  // size: exceptions naming the request's SendID and the argument.
  ASSERT_EQ(S_OK, SimConnect_SetClientData(a, 7, 70, 0, 0, 100, request.data()));
  uint32_t sendId = app.LastSendId();
  Received exception;
  ASSERT_TRUE(app.NextOfKind(1, &exception));
  EXPECT_EQ(24u, exception.Size());
  EXPECT_EQ(15u, exception.U32(12));
  EXPECT_EQ(sendId, exception.U32(16));
  EXPECT_EQ(5u, exception.U32(20));
  ASSERT_EQ(S_OK, SimConnect_SetClientData(a, 99, 70, 0, 0, 276, request.data()));
  ASSERT_TRUE(app.NextOfKind(1, &exception));
  EXPECT_EQ(14u, exception.U32(12));
  EXPECT_EQ(app.LastSendId(), exception.U32(16));
  EXPECT_EQ(1u, exception.U32(20));
  ASSERT_EQ(S_OK, SimConnect_CreateClientData(a, 8, 300, 0));
  ASSERT_TRUE(app.NextOfKind(1, &exception));
  EXPECT_EQ(15u, exception.U32(12));
  EXPECT_EQ(2u, exception.U32(20));

  // A client that leaves takes its subscriptions along; the areas stay.
  bridge.Close();
  EXPECT_TRUE(log.WaitForLine("client 1 \"Bridge\" left"));
  ASSERT_EQ(S_OK, SimConnect_SetClientData(a, 7, 70, 0, 0, 276, request.data()));
  EXPECT_TRUE(CountByRequestId(Sync(app), 1).empty());
  std::vector<uint8_t> stored;
  ASSERT_TRUE(host.Core().ClientData().Contents("TAVO_SC_DYN_HOSTRESQUEST_ID", &stored));
  EXPECT_EQ(request, stored);
}

TEST_F(ServerTest, MenuEventsReachTheClientThatAddedTheEntry) {
  StartHost();
  LibraryClient bridge, other;
  Open(bridge, "Bridge");
  Open(other, "Other");
  HANDLE b = bridge.handle();
  ASSERT_EQ(S_OK, SimConnect_MenuAddItem(b, "TAVO.quin", 1, 0));
  ASSERT_EQ(S_OK, SimConnect_MenuAddSubItem(b, 1, "About", 102, 0));
  ASSERT_EQ(S_OK, SimConnect_MenuAddSubItem(b, 1, "Disable LVAR Access", 101, 7));
  ASSERT_EQ(S_OK, SimConnect_MenuAddItem(other.handle(), "Other Tool", 5, 55));
  EXPECT_TRUE(log.WaitForLine("menu of client 1 \"Bridge\": TAVO.quin [About | Disable LVAR Access]"));
  EXPECT_TRUE(log.WaitForLine("menu of client 2 \"Other\": Other Tool"));

  ASSERT_TRUE(host.Core().ChooseMenuItem("tavo.quin/about"));
  Received event;
  ASSERT_TRUE(bridge.NextOfKind(4, &event));
  EXPECT_EQ(24u, event.Size());
  EXPECT_EQ(0xFFFFFFFFu, event.U32(12));
  EXPECT_EQ(102u, event.U32(16));
  EXPECT_EQ(0u, event.U32(20));
  EXPECT_TRUE(log.HasLine("menu item \"tavo.quin/about\" chosen: event 102 to client 1 \"Bridge\""));

  ASSERT_TRUE(host.Core().ChooseMenuItem("TAVO.quin/Disable LVAR Access"));
  ASSERT_TRUE(bridge.NextOfKind(4, &event));
  EXPECT_EQ(101u, event.U32(16));
  EXPECT_EQ(7u, event.U32(20));

  // Another client's entry goes to that client only; a client number picks.
  EXPECT_FALSE(host.Core().ChooseMenuItem("1:Other Tool"));
  ASSERT_TRUE(host.Core().ChooseMenuItem("2:Other Tool"));
  ASSERT_TRUE(other.NextOfKind(4, &event));
  EXPECT_EQ(5u, event.U32(16));
  EXPECT_EQ(55u, event.U32(20));
  EXPECT_TRUE(CountByRequestId(Sync(bridge), 4).empty());

  // The bridge swaps its switch item; the old one can no longer be chosen.
  ASSERT_EQ(S_OK, SimConnect_MenuRemoveSubItem(b, 1, 101));
  ASSERT_EQ(S_OK, SimConnect_MenuAddSubItem(b, 1, "Enable LVAR Access", 100, 0));
  EXPECT_TRUE(log.WaitForLine("menu of client 1 \"Bridge\": TAVO.quin [About | Enable LVAR Access]"));
  EXPECT_FALSE(host.Core().ChooseMenuItem("TAVO.quin/Disable LVAR Access"));
  std::vector<std::string> lines = host.Core().MenuLines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("menu of client 1 \"Bridge\": TAVO.quin [About | Enable LVAR Access]", lines[0]);

  // Mistakes: an unknown sub-item, an unknown parent, a duplicate item.
  Received exception;
  ASSERT_EQ(S_OK, SimConnect_MenuRemoveSubItem(b, 1, 101));
  ASSERT_TRUE(bridge.NextOfKind(1, &exception));
  EXPECT_EQ(17u, exception.U32(12));
  EXPECT_EQ(2u, exception.U32(20));
  ASSERT_EQ(S_OK, SimConnect_MenuAddSubItem(b, 9, "Orphan", 900, 0));
  ASSERT_TRUE(bridge.NextOfKind(1, &exception));
  EXPECT_EQ(17u, exception.U32(12));
  EXPECT_EQ(1u, exception.U32(20));
  ASSERT_EQ(S_OK, SimConnect_MenuAddItem(b, "Again", 1, 0));
  ASSERT_TRUE(bridge.NextOfKind(1, &exception));
  EXPECT_EQ(16u, exception.U32(12));
  EXPECT_EQ(2u, exception.U32(20));

  // On-screen texts are shown on the console with their type and duration.
  const char text[] = "TAVO.quin: LVAR access enabled";
  ASSERT_EQ(S_OK, SimConnect_Text(b, 5, 30.0f, 10007, sizeof text, text));
  EXPECT_TRUE(log.WaitForLine(
      "text from client 1 \"Bridge\" (type 5 scrolling yellow, 30.0 s): TAVO.quin: LVAR access enabled"));

  // A client's menu leaves with it.
  bridge.Close();
  EXPECT_TRUE(log.WaitForLine("client 1 \"Bridge\" left"));
  EXPECT_FALSE(host.Core().ChooseMenuItem("TAVO.quin/About"));
}
