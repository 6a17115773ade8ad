// The transport under a connection object, over real pipes and loopback
// sockets: each failure's kind and status (and nothing left open after it),
// the write chain, connecting. Under Wine an overlapped operation ends with its
// thread, so connections are opened and written from the main thread.
#include "simconnect/transport/transport.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "simconnect/transport/transport_internal.h"
#include "support/bytes.h"
#include "support/library_link.h"
#include "support/paths.h"
#include "support/process_stats.h"

namespace {

SimConnectClient* ClientOf(HANDLE handle) { return static_cast<SimConnectClient*>(handle); }
// What GetNextDispatch gives once the queue is empty: the failure status.
HRESULT StatusOf(HANDLE handle) {
  const void* message = nullptr;
  uint32_t size = 0;
  HRESULT result;
  while ((result = SimConnect_GetNextDispatch(handle, &message, &size)) == S_OK) continue;
  return result;
}

TEST(Transport, EachFailureEndsThePipeWithItsKindAndStatus) {
  const HRESULT abort = static_cast<HRESULT>(0x80004004), pipeBroken = static_cast<HRESULT>(0xC000014B);
  struct Case { const char* what; uint32_t limit; std::vector<uint8_t> before, bad; FailureKind kind; HRESULT status; };
  const Case cases[] = {
      // The limit itself is one message; one byte more ends the connection.
      {"above the limit", 41088, MakeReceived(16, 41088), {0x81, 0xA0, 0, 0}, FailureKind::SizeTooLarge, abort},
      {"a size of 2", 41088, MakeReceived(16, 64), {2, 0, 0, 0, 0xEE}, FailureKind::MalformedSize, abort},
      // Above the largest receive buffer (under a higher limit): as above the limit.
      {"above the ceiling", 2 * 1048576, MakeReceived(16, 64), MakeReceived(16, 1048577), FailureKind::SizeTooLarge, abort},
      {"the server gone", 41088, MakeReceived(16, 64), {}, FailureKind::Disconnected, pipeBroken},
  };
  // A connection takes the number after the last one handed out (set here to
  // 0xFFFFFFFE, 0xFFFFFFFF, 0 and 1), and after 0xFFFFFFFF comes 1, never 0.
  std::vector<uint32_t> ids;
  uint32_t last = 0xFFFFFFFE, handles = 0;
  for (const Case& c : cases) {
    transport_detail::SetConnectionIdCounter(last++);
    LibraryLink link("failure", c.limit);
    ASSERT_TRUE(link.connected()) << c.what;
    ids.push_back(ClientOf(link.handle)->CurrentConnectionId());
    ASSERT_TRUE(link.server->Write(c.before)) << c.what;
    EXPECT_EQ(link.Next(), c.before) << c.what;
    // The client may drop the pipe before the server's write of the bad message is complete.
    if (c.bad.empty()) {
      link.server->CloseClient();
    } else {
      link.server->Write(c.bad);
    }
    ASSERT_TRUE(WaitUntil([&] { return link.Failed(); })) << c.what;
    EXPECT_EQ(ClientOf(link.handle)->LastFailure(), c.kind) << c.what;
    EXPECT_EQ(StatusOf(link.handle), c.status) << c.what;
    EXPECT_EQ(ClientOf(link.handle)->CurrentConnectionId(), 0u) << "a closed connection has no number";
    if (!c.bad.empty()) {
      EXPECT_TRUE(link.server->WaitForClientClose()) << c.what;
    }
    link.Close();
    // Counted once the first connection started what the system keeps.
    if (handles == 0 && WaitUntil([] { return LiveTransportCount() == 0; })) handles = process_stats::CountOpenHandles();
  }
  EXPECT_EQ(ids, (std::vector<uint32_t>{0xFFFFFFFF, 1, 1, 2}));
  EXPECT_TRUE(WaitUntil([] { return LiveTransportCount() == 0; })) << LiveTransportCount();
  EXPECT_LE(process_stats::CountOpenHandles(), handles + 2);
}

TEST(Transport, TcpOverBothFamiliesWritesInOrderAndEndsWithZeroBytes) {
  for (int family : {AF_INET6, AF_INET}) {
    std::unique_ptr<RawServer> server = RawServer::ListenTcp(family);
    ASSERT_NE(server, nullptr);
    SimConnectClient* client = SimConnectClient::Create(TransportKind::Socket);
    ASSERT_TRUE(ConnectTransport(client, family, family == AF_INET6 ? L"::1" : L"127.0.0.1",
                                 server->PortText().c_str(), 41088, family == AF_INET6));
    ASSERT_TRUE(server->Accept());
    int noDelay = 0, length = sizeof noDelay;  // comes back as a one-byte boolean
    getsockopt(reinterpret_cast<SOCKET>(client->Handle()), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&noDelay), &length);
    EXPECT_EQ(noDelay != 0, family == AF_INET6) << "Nagle is off on request only, here over IPv6";
    // Requests of many sizes built at once arrive whole and in order.
    std::vector<uint8_t> data(3000, 0x33);
    for (uint32_t i = 0; i < 150; ++i) ASSERT_EQ(SimConnect_SetClientData(client, 1, 1, 0, 0, (i * 97) % 3000, data.data()), S_OK);
    for (uint32_t i = 0; i < 150; ++i) {
      const std::vector<uint8_t> request = server->ReadMessage();
      ASSERT_EQ(request.size(), 36 + (i * 97) % 3000) << i;
      EXPECT_EQ(U32At(request, 12), i + 1);
    }
    // Each block leaves the count of bytes queued for sending once written.
    EXPECT_TRUE(WaitUntil([&] { return QueuedSendBytes(client) == 0; })) << QueuedSendBytes(client);
    // An orderly close by the server, after a message, completes the read
    // with 0 bytes: the message is handed out, then that status.
    ASSERT_TRUE(server->Write(MakeReceived(16, 4000)));
    server->CloseClient();
    ASSERT_TRUE(WaitUntil([&] { return client->HasFailed(); }));
    const void* message = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(SimConnect_GetNextDispatch(client, &message, &size), S_OK);
    EXPECT_EQ(size, 4000u);
    EXPECT_EQ(StatusOf(client), static_cast<HRESULT>(0xC000013E));
    EXPECT_EQ(SimConnect_Close(client), S_OK);
  }
}

TEST(Transport, ABusyPipeIsWaitedForUntilAnInstanceIsFree) {
  const std::wstring path = UniquePipePath("busy");
  std::unique_ptr<RawServer> first = RawServer::ListenPipe(path, 2);
  ASSERT_NE(first, nullptr);
  HANDLE taken = ConnectClientToPipe(path, nullptr);
  ASSERT_NE(taken, nullptr);
  ASSERT_TRUE(first->Accept());
  // The only instance is taken; a second one starts listening 300 ms later.
  std::unique_ptr<RawServer> second;
  std::thread server([&] {
    Sleep(300);
    second = RawServer::ListenPipe(path, 2);
    if (second != nullptr) second->Accept();
  });
  HANDLE waiting = ConnectClientToPipe(path, nullptr);
  server.join();
  ASSERT_NE(waiting, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(waiting, 1, 2), S_OK);
  EXPECT_EQ(second->ReadMessage().size(), 24u);
  SimConnect_Close(waiting);
  SimConnect_Close(taken);
}

}  // namespace
