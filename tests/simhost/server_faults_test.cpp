// What the server does with clients that misbehave, and at its end: bad
// requests are answered with exceptions; a malformed stream drops only its
// client; a client that does not read delays only itself until its backlog
// drops it; TCP clients on ::1 and 127.0.0.1 are served like pipe clients; and
// the shutdown sends every client the quit message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simconnect/SimConnect.h"
#include "simconnect/request_encoding.h"
#include "simconnect/wire.h"
#include "simhost_test_env.h"
#include "support/bytes.h"
#include "support/test_env.h"

using namespace simhost;

namespace {

class ServerFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pipe = UniquePipeName("faults");
    ASSERT_TRUE(WriteClientConfig({{1, "Pipe", ".", Narrow(pipe)}}));
    options = TestHostOptions(pipe, log);
  }

  void StartHost() {
    std::string error;
    ASSERT_TRUE(host.Start(options, &error)) << error;
  }

  void Open(LibraryClient& client, const char* name, uint32_t configIndex = 1) {
    ASSERT_EQ(S_OK, client.Open(name, configIndex));
    Received reply;
    ASSERT_TRUE(client.NextOfKind(2, &reply));
    ASSERT_EQ(S_OK, SimConnect_AddToDataDefinition(client.handle(), 1, "TITLE", nullptr, 10, 0.0f, 0));
  }

  // The client still gets answers.
  void ExpectServed(LibraryClient& client) {
    std::vector<Received> before;
    EXPECT_TRUE(client.CollectUntilMarker(1, 4242, &before));
  }

  void OpenRaw(RawPipeClient& raw, const char* name) {
    ASSERT_TRUE(raw.Connect(pipe));
    ASSERT_TRUE(raw.Write(OpenRequestBytes(name, 1)));
    Received reply;
    ASSERT_TRUE(raw.Read(&reply));
    ASSERT_EQ(2u, reply.Kind());
  }

  void ExpectException(RawPipeClient& raw, uint32_t code, uint32_t sendId, uint32_t index) {
    Received m;
    ASSERT_TRUE(raw.Read(&m));
    ASSERT_EQ(1u, m.Kind());
    EXPECT_EQ(24u, m.Size());
    EXPECT_EQ(code, m.U32(12));
    EXPECT_EQ(sendId, m.U32(16));
    EXPECT_EQ(index, m.U32(20));
  }

  LogCapture log;
  std::wstring pipe;
  SimHostOptions options;
  SimHost host;
};

std::vector<uint8_t> TitleRequest(uint32_t sendId, uint32_t requestId, uint32_t definition, uint32_t object,
                                  uint32_t period) {
  std::vector<uint8_t> request = Bytes(48).U32(12, sendId).vec();
  request_encoding::WriteRequestDataOnSimObject(request.data(), requestId, definition, object, period, 0, 0, 0, 0);
  return request;
}

}  // namespace

TEST_F(ServerFaultsTest, BadRequestsAreAnsweredWithExceptions) {
  StartHost();
  RawPipeClient raw;
  ASSERT_TRUE(raw.Connect(pipe));
  // Anything before Open.
  ASSERT_TRUE(raw.Write(TitleRequest(5, 1, 1, 0, 1)));
  ExpectException(raw, 5, 5, 0);
  ASSERT_TRUE(raw.Write(OpenRequestBytes("Raw", 6)));
  Received reply;
  ASSERT_TRUE(raw.Read(&reply));
  EXPECT_EQ(2u, reply.Kind());
  // A second Open, an unknown id, a wrong size, another version.
  ASSERT_TRUE(raw.Write(OpenRequestBytes("Raw", 7)));
  ExpectException(raw, 6, 7, 0);
  ASSERT_TRUE(raw.Write(Bytes(16).Header(0xF0000077, 8)));
  ExpectException(raw, 3, 8, 0);
  ASSERT_TRUE(raw.Write(Bytes(28).Header(0xF0000034, 9)));
  ExpectException(raw, 2, 9, 0);
  ASSERT_TRUE(raw.Write(Bytes(24).Header(0xF0000034, 10).U32(4, 36)));
  ExpectException(raw, 4, 10, 0);
  // The stream goes on after each of them.
  ASSERT_TRUE(raw.Write(Bytes(24).Header(0xF0000034, 11).U32(16, 1).U32(20, 2)));
  ExpectException(raw, 17, 11, 1);  // MenuRemoveSubItem of a menu it never added
  EXPECT_TRUE(log.HasLine("exception 3 (unrecognized id) to client 1: unknown, SendID 8, argument 0"));

  // Through the client library: the exception names the SendID the library
  // reports for the call.
  LibraryClient client;
  ASSERT_EQ(S_OK, client.Open("Library", 1));
  HANDLE h = client.handle();
  Received m;
  ASSERT_EQ(S_OK, SimConnect_AddToDataDefinition(h, 1, "PLANE ALTITUDE", "feet", 4, 0.0f, 0));
  uint32_t sendId = client.LastSendId();
  ASSERT_TRUE(client.NextOfKind(1, &m));
  EXPECT_EQ(11u, m.U32(12));
  EXPECT_EQ(sendId, m.U32(16));
  EXPECT_EQ(2u, m.U32(20));
  ASSERT_EQ(S_OK, SimConnect_AddToDataDefinition(h, 1, "TITLE", nullptr, 4, 0.0f, 0));
  ASSERT_TRUE(client.NextOfKind(1, &m));
  EXPECT_EQ(11u, m.U32(12));
  EXPECT_EQ(4u, m.U32(20));
  ASSERT_EQ(S_OK, SimConnect_RequestDataOnSimObject(h, 1, 9, 0, 1, 0, 0, 0, 0));
  sendId = client.LastSendId();
  ASSERT_TRUE(client.NextOfKind(1, &m));
  EXPECT_EQ(10u, m.U32(12));
  EXPECT_EQ(sendId, m.U32(16));
  EXPECT_EQ(2u, m.U32(20));
  ASSERT_EQ(S_OK, SimConnect_AddToDataDefinition(h, 1, "TITLE", nullptr, 10, 0.0f, 0));
  ASSERT_EQ(S_OK, SimConnect_RequestDataOnSimObject(h, 1, 1, 3, 1, 0, 0, 0, 0));
  ASSERT_TRUE(client.NextOfKind(1, &m));
  EXPECT_EQ(12u, m.U32(12));
  EXPECT_EQ(3u, m.U32(20));
  ASSERT_EQ(S_OK, SimConnect_RequestDataOnSimObject(h, 1, 1, 0, 2, 0, 0, 0, 0));
  ASSERT_TRUE(client.NextOfKind(1, &m));
  EXPECT_EQ(13u, m.U32(12));
  EXPECT_EQ(4u, m.U32(20));
  ASSERT_EQ(S_OK, SimConnect_MapClientDataNameToID(h, "", 3));
  ASSERT_TRUE(client.NextOfKind(1, &m));
  EXPECT_EQ(9u, m.U32(12));
  EXPECT_EQ(1u, m.U32(20));
  ASSERT_EQ(S_OK, SimConnect_MapClientDataNameToID(h, "AREA", 3));
  ASSERT_EQ(S_OK, SimConnect_MapClientDataNameToID(h, "OTHER", 3));
  ASSERT_TRUE(client.NextOfKind(1, &m));
  EXPECT_EQ(16u, m.U32(12));
  EXPECT_EQ(2u, m.U32(20));
  ASSERT_EQ(S_OK, SimConnect_CreateClientData(h, 3, 0, 0));
  ASSERT_TRUE(client.NextOfKind(1, &m));
  EXPECT_EQ(15u, m.U32(12));
  EXPECT_EQ(2u, m.U32(20));
  ASSERT_EQ(S_OK, SimConnect_RequestClientData(h, 3, 1, 77, 3, 0, 0, 0, 0));
  ASSERT_TRUE(client.NextOfKind(1, &m));
  EXPECT_EQ(10u, m.U32(12));
  EXPECT_EQ(3u, m.U32(20));
  ExpectServed(client);
}

TEST_F(ServerFaultsTest, AMalformedStreamDropsOnlyThatClient) {
  StartHost();
  LibraryClient client;
  Open(client, "Steady");

  RawPipeClient small;
  OpenRaw(small, "Small");
  ASSERT_TRUE(small.Write(Bytes(8).U32(0, 8)));
  EXPECT_TRUE(small.WaitForClose());
  EXPECT_TRUE(log.WaitForLine("client 2 \"Small\" dropped: malformed stream (size field 8)"));

  RawPipeClient huge;
  OpenRaw(huge, "Huge");
  ASSERT_TRUE(huge.Write(Bytes(16).U32(0, 0x7FFFFFFF)));
  EXPECT_TRUE(huge.WaitForClose());
  EXPECT_TRUE(log.WaitForLine("client 3 \"Huge\" dropped: malformed stream (size field 2147483647)"));

  // Half a request and away: the client simply left.
  {
    RawPipeClient half;
    OpenRaw(half, "Half");
    ASSERT_TRUE(half.Write(Bytes(20).U32(0, 48)));
  }
  EXPECT_TRUE(log.WaitForLine("client 4 \"Half\" left"));

  ExpectServed(client);
  EXPECT_EQ(1u, host.Core().SessionCount());
  EXPECT_TRUE(WaitUntil([&] { return host.ConnectionCount() == 1; }));
}

TEST_F(ServerFaultsTest, AClientThatDoesNotReadDelaysOnlyItself) {
  options.maxPendingBytes = 1024 * 1024;
  StartHost();
  LibraryClient steady;
  Open(steady, "Steady");
  RawPipeClient stalled;
  OpenRaw(stalled, "Stalled");
  ASSERT_TRUE(stalled.Write(Bytes(544).Header(0xF000000C, 2).Text(20, "TITLE").U32(532, 10)));
  ASSERT_TRUE(stalled.Write(TitleRequest(3, 1, 0, 0, 3)));
  ExpectServed(steady);  // by now the stalled client's requests were handled too

  // 2000 frames of 300 bytes fill the pipe and wait in the stalled client's
  // outbox; the other client is answered all the same.
  host.AdvanceFrames(2000);
  ExpectServed(steady);
  EXPECT_EQ(2u, host.Core().SessionCount());

  // Past the backlog limit (1 MiB here) the stalled client is dropped, and
  // its connection ends although a write of it is still pending.
  host.AdvanceFrames(2000);
  EXPECT_TRUE(log.WaitForLine("client 2 \"Stalled\" dropped: it does not read its messages"));
  EXPECT_TRUE(WaitUntil([&] { return host.ConnectionCount() == 1; }));
  ExpectServed(steady);
}

TEST_F(ServerFaultsTest, TcpClientsOnBothLoopbackAddressesAreServed) {
  options.tcp6 = true;
  options.tcp4 = true;
  StartHost();
  ASSERT_NE(0, host.Port6());
  ASSERT_NE(0, host.Port4());
  EXPECT_TRUE(log.HasLine("listening on ::1 port " + std::to_string(host.Port6())));
  EXPECT_TRUE(log.HasLine("listening on 127.0.0.1 port " + std::to_string(host.Port4())));
  ASSERT_TRUE(WriteClientConfig({{2, "IPv6", "::1", std::to_string(host.Port6())},
                                 {3, "IPv4", "127.0.0.1", std::to_string(host.Port4())}}));
  LibraryClient six, four;
  Open(six, "Six", 2);
  Open(four, "Four", 3);
  EXPECT_TRUE(log.WaitForLine("client 1 \"Six\" opened (tcp6)"));
  EXPECT_TRUE(log.WaitForLine("client 2 \"Four\" opened (tcp4)"));

  // Client data crosses from one family to the other.
  ASSERT_EQ(S_OK, SimConnect_MapClientDataNameToID(six.handle(), "AREA", 1));
  ASSERT_EQ(S_OK, SimConnect_CreateClientData(six.handle(), 1, 8, 0));
  ASSERT_EQ(S_OK, SimConnect_AddToClientDataDefinition(six.handle(), 1, 0, 8, 0.0f, 0));
  ASSERT_EQ(S_OK, SimConnect_RequestClientData(six.handle(), 1, 33, 1, 3, 0, 0, 0, 0));
  ExpectServed(six);
  ASSERT_EQ(S_OK, SimConnect_MapClientDataNameToID(four.handle(), "AREA", 2));
  ASSERT_EQ(S_OK, SimConnect_AddToClientDataDefinition(four.handle(), 2, 0, 8, 0.0f, 0));
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(S_OK, SimConnect_SetClientData(four.handle(), 2, 2, 0, 0, 8, data));
  Received m;
  ASSERT_TRUE(six.NextOfKind(16, &m));
  EXPECT_EQ(33u, m.U32(12));
  EXPECT_EQ(std::vector<uint8_t>(data, data + 8), std::vector<uint8_t>(m.bytes.begin() + 40, m.bytes.end()));
  four.Close();
  EXPECT_TRUE(log.WaitForLine("client 2 \"Four\" left"));
  ExpectServed(six);
}

TEST_F(ServerFaultsTest, ShutdownSendsEveryClientTheQuitMessage) {
  options.tcp4 = true;
  options.quitGraceMs = 300;
  StartHost();
  ASSERT_TRUE(WriteClientConfig({{1, "Pipe", ".", Narrow(pipe)}, {3, "IPv4", "127.0.0.1", std::to_string(host.Port4())}}));
  LibraryClient piped, socketed;
  Open(piped, "Piped");
  Open(socketed, "Socketed", 3);
  RawPipeClient raw;
  OpenRaw(raw, "Raw");

  host.Stop();
  Received quit;
  ASSERT_TRUE(piped.NextOfKind(3, &quit));
  EXPECT_EQ(12u, quit.Size());
  EXPECT_EQ(12u, quit.bytes.size());
  ASSERT_TRUE(socketed.NextOfKind(3, &quit));
  EXPECT_EQ(12u, quit.Size());
  ASSERT_TRUE(raw.Read(&quit));
  EXPECT_EQ(3u, quit.Kind());
  EXPECT_TRUE(raw.WaitForClose());

  int shutdown = log.IndexOf("shutting down: quit message to 3 clients");
  ASSERT_GE(shutdown, 0);
  EXPECT_GT(log.IndexOf("stopped"), shutdown);
  EXPECT_GT(log.IndexOf("closed by the server"), shutdown);
  // Nothing listens any more.
  RawPipeClient late;
  EXPECT_FALSE(late.Connect(pipe, 200));
}
