// simhost's server as clients of the project's SimConnect library see it, over
// a pipe of its own and over TCP: the open reply with the server's name and
// the client's number, the aircraft title, client data relayed
// between two clients, an exception, a menu event, the TCP ports in the
// registry, and the quit message to every client at shutdown. Each kind of
// message is compared byte for byte once.
#include <gtest/gtest.h>

#include "sim_host.h"
#include "simconnect/SimConnect.h"
#include "support/bytes.h"
#include "support/config_files.h"
#include "support/log_capture.h"
#include "support/paths.h"
#include "support/wait_until.h"

namespace {

using Message = std::vector<uint8_t>;
constexpr uint32_t kTitle = 99, kMarker = 0x5EC;  // every client's title definition, a request id

// A received message's header: size, version 6, kind.
Bytes Reply(uint32_t size, uint32_t kind) { return Bytes(size).U32(0, size).U32(4, 6).U32(8, kind); }

// A client of the library, and its open reply.
struct Client {
  ~Client() { Close(); }
  bool Open(const char* name, uint32_t configIndex = 1) {
    return SimConnect_Open(&handle, name, nullptr, 0, event.handle, configIndex) == S_OK && Next(&reply) &&
           SimConnect_AddToDataDefinition(handle, kTitle, "TITLE", nullptr, 10, 0.0f, 0xFFFFFFFF) == S_OK;
  }
  void Close() {
    if (handle != nullptr) SimConnect_Close(handle);
    handle = nullptr;
  }
  // The next message, waiting up to 5 s.
  bool Next(Message* out) {
    return NextDispatch(handle, event.handle, 5000, [out](const uint8_t* bytes, uint32_t size) {
      out->assign(bytes, bytes + size);
      return true;
    });
  }
  // What arrives before the answer to a title request sent now: by then the
  // server has handled every earlier request of this client.
  std::vector<Message> Sync() {
    EXPECT_EQ(S_OK, SimConnect_RequestDataOnSimObject(handle, kMarker, kTitle, 0, 1, 0, 0, 0, 0));
    std::vector<Message> before;
    for (Message m; Next(&m); before.push_back(m)) {
      if (U32At(m, 8) == 8 && U32At(m, 12) == kMarker) return before;
    }
    ADD_FAILURE() << "no answer to the marker request";
    return before;
  }

  HANDLE handle = nullptr;
  TestEvent event;
  Message reply;
};

class ServerTest : public ::testing::Test {
 protected:
  ServerTest() {
    options.pipeName = pipe;
    options.tcp6 = options.tcp4 = false;
    options.manualClock = options.haveAircraft = true;
    options.aircraft = {"First Aircraft", {{"X", {}}}, {}, 1};
    options.logSink = console.Sink();
  }
  void Start() {
    std::string error;
    ASSERT_TRUE(host.Start(options, &error)) << error;
  }

  const std::wstring path = UniquePipePath("server");
  const std::wstring pipe = PipeNameOf(path);
  ScopedFile config{L"SimConnect.cfg", PipeSection(1, path)};  // section 1 names the pipe
  LogCapture console;
  simhost::SimHostOptions options;
  simhost::SimHost host;
};

}  // namespace

TEST_F(ServerTest, OpenRepliesAndTheTitle) {
  Start();
  Client alpha, beta;
  ASSERT_TRUE(alpha.Open("Alpha"));
  ASSERT_TRUE(beta.Open("Beta"));
  Bytes reply = Reply(308, 2);
  reply.Text(12, "Prepar3D v6 (simhost)").U32(268, 6).U32(284, 6);
  EXPECT_EQ(alpha.reply, Bytes(reply).U32(300, 1).vec());
  EXPECT_EQ(beta.reply, Bytes(reply).U32(300, 2).vec());

  // Period 1 answers at once with the title.
  Message once;
  ASSERT_EQ(S_OK, SimConnect_RequestDataOnSimObject(alpha.handle, 10002, kTitle, 0, 1, 0, 0, 0, 0));
  ASSERT_TRUE(alpha.Next(&once));
  EXPECT_EQ(once, Reply(300, 8)
                      .U32(12, 10002)
                      .U32(16, 1)
                      .U32(20, kTitle)
                      .U32(28, 1)
                      .U32(32, 1)
                      .U32(36, 1)
                      .Text(40, "First Aircraft")
                      .vec());
}

TEST_F(ServerTest, ClientDataAnExceptionAndAMenuEventBetweenTwoClients) {
  Start();
  Client bridge, app;
  ASSERT_TRUE(bridge.Open("Bridge"));
  ASSERT_TRUE(app.Open("App"));
  const HANDLE b = bridge.handle, a = app.handle;

  // The bridge creates an area and subscribes to every write of it; the
  // application writes 4 bytes at offset 8 under ids of its own. The bridge
  // receives the whole area; the writer, not subscribed, nothing.
  ASSERT_EQ(S_OK, SimConnect_MapClientDataNameToID(b, "TAVO_SC_DYN_HOSTRESQUEST_ID", 5));
  ASSERT_EQ(S_OK, SimConnect_CreateClientData(b, 5, 276, 0));
  ASSERT_EQ(S_OK, SimConnect_AddToClientDataDefinition(b, 6, 0, 276, 0.0f, 0xFFFFFFFF));
  ASSERT_EQ(S_OK, SimConnect_RequestClientData(b, 5, 10000, 6, 3, 0, 0, 0, 0));
  EXPECT_TRUE(bridge.Sync().empty());
  const uint8_t patch[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  ASSERT_EQ(S_OK, SimConnect_MapClientDataNameToID(a, "TAVO_SC_DYN_HOSTRESQUEST_ID", 7));
  ASSERT_EQ(S_OK, SimConnect_AddToClientDataDefinition(a, 70, 8, 4, 0.0f, 0));
  ASSERT_EQ(S_OK, SimConnect_SetClientData(a, 7, 70, 0, 0, 4, patch));
  Message m;
  ASSERT_TRUE(bridge.Next(&m));
  EXPECT_EQ(
      m, Reply(316, 16).U32(12, 10000).U32(16, 5).U32(20, 6).U32(28, 1).U32(32, 1).U32(36, 1).Raw(48, patch, 4).vec());
  EXPECT_TRUE(app.Sync().empty());

  // A name whose area nobody created: exception 14 with the request's SendID
  // and the argument at fault (what bridgectl reports as "no bridge").
  ASSERT_EQ(S_OK, SimConnect_MapClientDataNameToID(a, "NO_SUCH_AREA", 9));
  ASSERT_EQ(S_OK, SimConnect_SetClientData(a, 9, 70, 0, 0, 4, patch));
  uint32_t sendId = 0;
  SimConnect_GetLastSentPacketID(a, &sendId);
  ASSERT_TRUE(app.Next(&m));
  EXPECT_EQ(m, Reply(24, 1).U32(12, 14).U32(16, sendId).U32(20, 1).vec());

  // A menu choice goes to the client that added the entry, with its data.
  ASSERT_EQ(S_OK, SimConnect_MenuAddItem(b, "TAVO.quin", 1, 0));
  ASSERT_EQ(S_OK, SimConnect_MenuAddSubItem(b, 1, "Disable LVAR Access", 101, 7));
  ASSERT_TRUE(console.WaitForLine("menu of client 1 \"Bridge\": TAVO.quin [Disable LVAR Access]"));
  ASSERT_TRUE(host.Core().ChooseMenuItem("TAVO.quin/Disable LVAR Access"));
  ASSERT_TRUE(bridge.Next(&m));
  EXPECT_EQ(m, Reply(24, 4).U32(12, 0xFFFFFFFF).U32(16, 101).U32(20, 7).vec());
  EXPECT_TRUE(app.Sync().empty());
}

TEST_F(ServerTest, TheRegistryPortsLeadToTcpAndTheShutdownQuitsEveryClient) {
  RegistryPorts ports;  // none before, none after
  options.tcp6 = options.tcp4 = options.writeRegistry = true;
  Start();
  EXPECT_EQ(RegistryPorts::Get(true), std::to_wstring(host.Port6()));
  EXPECT_EQ(RegistryPorts::Get(false), std::to_wstring(host.Port4()));
  // The default chain finds nothing on the simulator's pipe and follows the
  // registry to ::1; the other client comes by its pipe.
  Client six, piped;
  ASSERT_TRUE(six.Open("Six", kConfigIndexDefault));
  ASSERT_TRUE(piped.Open("Piped"));
  EXPECT_TRUE(console.WaitForLine("client 1 \"Six\" opened (tcp6)"));
  host.Stop();
  for (Client* client : {&six, &piped}) {
    Message quit;
    ASSERT_TRUE(client->Next(&quit));
    EXPECT_EQ(quit, Reply(12, 3).vec());
  }
  EXPECT_EQ(RegistryPorts::Get(true) + RegistryPorts::Get(false), L"");  // removed at the end
}
