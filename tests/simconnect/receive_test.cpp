// Received messages from a real pipe server: queueing with notification,
// hand-out in order, the failure status after the queued messages, dispatch to
// callbacks (including the simulator's pump-all call), string retrieval and
// closing.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "support/bytes.h"
#include "support/raw_server.h"
#include "support/test_env.h"

namespace {

struct Connection {
  explicit Connection(const char* tag) {
    path = UniquePipePath(tag);
    server = RawServer::ListenPipe(path);
    if (server == nullptr) return;
    client = ConnectClientToPipe(path, event.handle);
    if (client != nullptr && !server->Accept()) client = nullptr;
  }
  ~Connection() {
    if (client != nullptr) SimConnect_Close(client);
  }
  // Sends a message of `size` bytes whose kind is `kind` and whose bytes from
  // offset 12 on carry `tag`.
  void Send(uint32_t kind, uint32_t size, uint32_t tag) {
    std::vector<uint8_t> message = MakeReceived(kind, size);
    if (size >= 16) {
      for (int i = 0; i < 4; ++i) message[12 + i] = static_cast<uint8_t>(tag >> (8 * i));
    }
    ASSERT_TRUE(server->Write(message));
  }
  uint32_t Queued() { return client->receiveQueue.Count(); }

  TestEvent event;
  std::wstring path;
  std::unique_ptr<RawServer> server;
  SimConnectClient* client = nullptr;
};

uint32_t TagOf(const void* message) { return U32At(std::vector<uint8_t>(static_cast<const uint8_t*>(message),
                                                                        static_cast<const uint8_t*>(message) + 16), 12); }

TEST(Receive, MessagesAreQueuedWithAnEventAndHandedOutInOrder) {
  Connection c("order");
  ASSERT_NE(c.client, nullptr);
  const void* message = reinterpret_cast<const void*>(1);
  uint32_t size = 99;
  EXPECT_EQ(SimConnect_GetNextDispatch(c.client, &message, &size), E_FAIL);
  EXPECT_EQ(message, nullptr);
  EXPECT_EQ(size, 0u);

  c.Send(16, 40, 0xA1);
  ASSERT_TRUE(c.event.Wait());
  c.Send(8, 300, 0xA2);
  c.Send(4, 24, 0xA3);
  ASSERT_TRUE(WaitUntil([&] { return c.Queued() == 3; }));

  ASSERT_EQ(SimConnect_GetNextDispatch(c.client, &message, &size), S_OK);
  EXPECT_EQ(size, 40u);
  EXPECT_EQ(TagOf(message), 0xA1u);
  ASSERT_EQ(SimConnect_GetNextDispatch(c.client, &message, &size), S_OK);
  EXPECT_EQ(size, 300u);
  EXPECT_EQ(TagOf(message), 0xA2u);
  const void* second = message;
  ASSERT_EQ(SimConnect_GetNextDispatch(c.client, &message, &size), S_OK);
  EXPECT_EQ(TagOf(message), 0xA3u);
  EXPECT_NE(message, second);
  EXPECT_EQ(SimConnect_GetNextDispatch(c.client, &message, &size), E_FAIL);
}

TEST(Receive, AShortRecordGivesEFailOnceAndTheNextMessageFollows) {
  Connection c("short");
  ASSERT_NE(c.client, nullptr);
  c.Send(0, 8, 0);  // 8 bytes: too short to be a message
  c.Send(16, 20, 0xB1);
  ASSERT_TRUE(WaitUntil([&] { return c.Queued() == 2; }));
  const void* message = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(SimConnect_GetNextDispatch(c.client, &message, &size), E_FAIL);
  EXPECT_EQ(message, nullptr);
  EXPECT_EQ(size, 0u);
  ASSERT_EQ(SimConnect_GetNextDispatch(c.client, &message, &size), S_OK);
  EXPECT_EQ(TagOf(message), 0xB1u);
}

TEST(Receive, QueuedMessagesComeBeforeTheFailureStatus) {
  Connection c("failure");
  ASSERT_NE(c.client, nullptr);
  c.Send(16, 40, 1);
  c.Send(16, 40, 2);
  ASSERT_TRUE(WaitUntil([&] { return c.Queued() == 2; }));
  ResetEvent(c.event.handle);
  c.server->CloseClient();
  ASSERT_TRUE(c.event.Wait()) << "the failure close notifies";
  ASSERT_TRUE(c.client->HasFailed());

  const void* message = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(SimConnect_GetNextDispatch(c.client, &message, &size), S_OK);
  EXPECT_EQ(TagOf(message), 1u);
  ASSERT_EQ(SimConnect_GetNextDispatch(c.client, &message, &size), S_OK);
  EXPECT_EQ(TagOf(message), 2u);
  EXPECT_EQ(SimConnect_GetNextDispatch(c.client, &message, &size), static_cast<HRESULT>(0xC000014B));
  EXPECT_EQ(SimConnect_CallDispatch(c.client, [](const void*, uint32_t, void*) {}, nullptr),
            static_cast<HRESULT>(0xC000014B));
  // Closing a failed connection still succeeds, and notifies nobody.
  ResetEvent(c.event.handle);
  EXPECT_EQ(SimConnect_Close(c.client), S_OK);
  c.client = nullptr;
  EXPECT_FALSE(c.event.IsSet());
}

struct Seen {
  std::vector<uint32_t> tags;
  std::vector<uint32_t> sizes;
};

void Record(const void* message, uint32_t size, void* context) {
  auto* seen = static_cast<Seen*>(context);
  seen->tags.push_back(TagOf(message));
  seen->sizes.push_back(size);
}

TEST(Receive, CallDispatchHandsEveryMessageToTheCallbackInArrivalOrder) {
  Connection c("dispatch");
  ASSERT_NE(c.client, nullptr);
  c.Send(16, 40, 1);
  c.Send(16, 8, 0);  // skipped: too short
  c.Send(4, 24, 3);
  ASSERT_TRUE(WaitUntil([&] { return c.Queued() == 3; }));

  EXPECT_EQ(SimConnect_CallDispatch(c.client, nullptr, nullptr), E_FAIL);
  EXPECT_EQ(c.Queued(), 3u) << "a null callback leaves the queue alone";

  Seen seen;
  EXPECT_EQ(SimConnect_CallDispatch(c.client, Record, &seen), S_OK);
  EXPECT_EQ(seen.tags, (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(seen.sizes, (std::vector<uint32_t>{40, 24}));
  EXPECT_EQ(c.Queued(), 0u);
}

TEST(Receive, ThePumpAllCallDispatchesOnlyConnectionsDispatchedBefore) {
  Connection a("pump-a");
  Connection b("pump-b");
  ASSERT_NE(a.client, nullptr);
  ASSERT_NE(b.client, nullptr);
  Seen seenA;
  ASSERT_EQ(SimConnect_CallDispatch(a.client, Record, &seenA), S_OK);

  a.Send(16, 40, 11);
  a.Send(16, 40, 12);
  b.Send(16, 40, 21);
  ASSERT_TRUE(WaitUntil([&] { return a.Queued() == 2 && b.Queued() == 1; }));

  const auto pump = reinterpret_cast<DispatchProc>(static_cast<intptr_t>(-2));
  void* const pumpContext = reinterpret_cast<void*>(static_cast<intptr_t>(-3));
  EXPECT_EQ(SimConnect_CallDispatch(nullptr, pump, pumpContext), E_FAIL);
  EXPECT_EQ(seenA.tags, (std::vector<uint32_t>{11, 12}));
  EXPECT_EQ(b.Queued(), 1u) << "a connection never dispatched is not pumped";
  // Any other null-handle call does nothing.
  a.Send(16, 40, 13);
  ASSERT_TRUE(WaitUntil([&] { return a.Queued() == 1; }));
  EXPECT_EQ(SimConnect_CallDispatch(nullptr, pump, nullptr), E_FAIL);
  EXPECT_EQ(a.Queued(), 1u);
}

TEST(Receive, CloseIsOrderlyAndQuiet) {
  EXPECT_EQ(SimConnect_Close(nullptr), E_FAIL);
  Connection c("close");
  ASSERT_NE(c.client, nullptr);
  c.Send(16, 40, 1);
  ASSERT_TRUE(c.event.Wait()) << "the message's notification, taken";
  ASSERT_EQ(c.Queued(), 1u);
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(c.client, 1, 2), S_OK);
  EXPECT_EQ(SimConnect_Close(c.client), S_OK);
  c.client = nullptr;
  EXPECT_EQ(c.server->ReadMessage().size(), 24u) << "a request built before the close still goes out";
  EXPECT_TRUE(c.server->WaitForClientClose());
  Sleep(50);  // late completions of the closed pipe must stay quiet
  EXPECT_FALSE(c.event.IsSet()) << "an orderly close notifies nobody";
}

TEST(RetrieveString, PaddedSizesAndBounds) {
  std::vector<uint8_t> m(48, 0);
  const char* out = nullptr;
  uint32_t padded = 0;
  std::memcpy(&m[40], "abc", 4);
  ASSERT_EQ(SimConnect_RetrieveString(m.data(), 48, &m[40], &out, &padded), S_OK);
  EXPECT_EQ(out, reinterpret_cast<const char*>(&m[40]));
  EXPECT_EQ(padded, 4u);
  std::memcpy(&m[40], "abcd", 5);
  ASSERT_EQ(SimConnect_RetrieveString(m.data(), 48, &m[40], &out, &padded), S_OK);
  EXPECT_EQ(padded, 8u);
  m[40] = 0;
  ASSERT_EQ(SimConnect_RetrieveString(m.data(), 48, &m[40], &out, nullptr), S_OK);
  ASSERT_EQ(SimConnect_RetrieveString(m.data(), 48, &m[40], &out, &padded), S_OK);
  EXPECT_EQ(padded, 4u);

  std::memset(&m[40], 'z', 8);  // no NUL before the end
  EXPECT_EQ(SimConnect_RetrieveString(m.data(), 48, &m[40], &out, &padded), E_FAIL);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(padded, 0u);
  EXPECT_EQ(SimConnect_RetrieveString(m.data(), 40, &m[40], &out, &padded), E_FAIL) << "starts at the end";
  EXPECT_EQ(SimConnect_RetrieveString(&m[8], 40, &m[0], &out, &padded), E_FAIL) << "starts before the message";
  EXPECT_EQ(SimConnect_RetrieveString(nullptr, 48, &m[40], &out, &padded), E_FAIL);
  EXPECT_EQ(SimConnect_RetrieveString(m.data(), 0, &m[40], &out, &padded), E_FAIL);
  EXPECT_EQ(SimConnect_RetrieveString(m.data(), 48, &m[40], nullptr, &padded), E_FAIL);
}

TEST(RetrieveString, NeverReadsPastTheMessageEnd) {
  // The message ends exactly at an inaccessible page: any read beyond it faults.
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  auto* pages = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * info.dwPageSize, MEM_RESERVE | MEM_COMMIT,
                                                    PAGE_READWRITE));
  ASSERT_NE(pages, nullptr);
  DWORD old;
  ASSERT_TRUE(VirtualProtect(pages + info.dwPageSize, info.dwPageSize, PAGE_NOACCESS, &old));
  uint8_t* message = pages + info.dwPageSize - 64;
  std::memset(message, 'q', 64);
  const char* out = nullptr;
  EXPECT_EQ(SimConnect_RetrieveString(message, 64, message + 40, &out, nullptr), E_FAIL);
  message[63] = 0;
  uint32_t padded = 0;
  EXPECT_EQ(SimConnect_RetrieveString(message, 64, message + 40, &out, &padded), S_OK);
  EXPECT_EQ(padded, 24u);  // 23 characters
  VirtualFree(pages, 0, MEM_RELEASE);
}

}  // namespace
