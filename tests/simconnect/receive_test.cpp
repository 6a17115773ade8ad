// Received messages from a raw pipe server: the receive queue and its event, the
// failure status after the queued messages, dispatch to callbacks and the
// simulator's pump-all, closing, and string retrieval.
#include <gtest/gtest.h>

#include <vector>

#include "simconnect/SimConnect.h"
#include "support/bytes.h"
#include "support/guarded_bytes.h"
#include "support/library_link.h"

namespace {

using Messages = std::vector<std::vector<uint8_t>>;

// A message of `kind` and `size` (at least 16) whose bytes 12..15 carry `tag`.
std::vector<uint8_t> Tagged(uint32_t kind, uint32_t size, uint32_t tag) {
  return Bytes(size).Raw(0, MakeReceived(kind, size).data(), 12).U32(12, tag).vec();
}

// Writes `message` and waits until the client has queued it (which sets the event).
void Deliver(LibraryLink& link, const std::vector<uint8_t>& message) {
  ASSERT_TRUE(link.server->Write(message));
  ASSERT_TRUE(link.event.Wait()) << "queued message of " << message.size() << " bytes";
}

void Record(const void* message, uint32_t size, void* seen) {
  static_cast<Messages*>(seen)->emplace_back(static_cast<const uint8_t*>(message), static_cast<const uint8_t*>(message) + size);
}

TEST(Receive, MessagesComeOutInOrderAndTheFailureStatusAfterThem) {
  LibraryLink link("order");
  ASSERT_TRUE(link.connected());
  const void* message = &link;
  uint32_t size = 99;
  EXPECT_EQ(SimConnect_GetNextDispatch(link.handle, &message, &size), E_FAIL) << "nothing queued yet";
  EXPECT_TRUE(message == nullptr && size == 0u);

  const std::vector<uint8_t> first = Tagged(16, 40, 0xA1), quit = MakeReceived(3, 12), last = Tagged(8, 300, 0xA3);
  Deliver(link, first);
  Deliver(link, quit);
  Deliver(link, MakeReceived(0, 8));  // too short to be a message
  Deliver(link, last);
  link.server->CloseClient();
  ASSERT_TRUE(link.event.Wait()) << "the failure notifies";
  ASSERT_TRUE(link.Failed());
  EXPECT_EQ(link.Next(0), first);
  EXPECT_EQ(link.Next(0), quit) << "the header alone is a message";
  EXPECT_EQ(SimConnect_GetNextDispatch(link.handle, &message, &size), E_FAIL) << "the short record, once";
  EXPECT_EQ(link.Next(0), last);
  const HRESULT pipeBroken = static_cast<HRESULT>(0xC000014B);
  EXPECT_EQ(SimConnect_GetNextDispatch(link.handle, &message, &size), pipeBroken);
  Messages seen;
  EXPECT_EQ(SimConnect_CallDispatch(link.handle, &Record, &seen), pipeBroken);
  EXPECT_TRUE(seen.empty());
  // Closing a failed connection succeeds and notifies nobody.
  EXPECT_EQ(link.Close(), S_OK);
  EXPECT_FALSE(link.event.IsSet());
}

TEST(Receive, CallDispatchThePumpAllOfTheSimulatorAndClose) {
  LibraryLink a("pump-a"), b("pump-b");
  ASSERT_TRUE(a.connected() && b.connected());
  const std::vector<uint8_t> a1 = Tagged(16, 40, 1), a2 = Tagged(4, 24, 2), a3 = Tagged(16, 40, 3);
  Deliver(a, a1);
  Deliver(a, MakeReceived(16, 8));  // skipped: too short
  Deliver(a, a2);
  EXPECT_EQ(SimConnect_CallDispatch(a.handle, nullptr, nullptr), E_FAIL) << "no callback: the queue stays";
  Messages seenA;
  EXPECT_EQ(SimConnect_CallDispatch(a.handle, &Record, &seenA), S_OK);
  EXPECT_EQ(seenA, (Messages{a1, a2}));
  // The pump-all, CallDispatch(null, -2, -3), dispatches each connection that
  // was dispatched before to its own last callback; B never was.
  Deliver(a, a3);
  Deliver(b, Tagged(16, 40, 21));
  const auto pump = reinterpret_cast<DispatchProc>(static_cast<intptr_t>(-2));
  EXPECT_EQ(SimConnect_CallDispatch(nullptr, pump, nullptr), E_FAIL) << "any other null-handle call does nothing";
  EXPECT_EQ(seenA.size(), 2u);
  EXPECT_EQ(SimConnect_CallDispatch(nullptr, pump, reinterpret_cast<void*>(static_cast<intptr_t>(-3))), E_FAIL);
  EXPECT_EQ(seenA, (Messages{a1, a2, a3}));
  EXPECT_EQ(b.Next(0), Tagged(16, 40, 21)) << "B's message waited in its queue";
  // A request built before the close still goes out; an orderly close
  // notifies nobody, not even with the late completions of its pipe.
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(b.handle, 1, 2), S_OK);
  EXPECT_EQ(b.Close(), S_OK);
  EXPECT_EQ(b.server->ReadMessage(), Bytes(24).Header(0xF0000034, 1).U32(16, 1).U32(20, 2).vec());
  EXPECT_TRUE(b.server->WaitForClientClose());
  Sleep(50);
  EXPECT_FALSE(b.event.IsSet());
}

TEST(RetrieveString, FindsTheStringWithinTheMessageOnly) {
  // 64 bytes right before an inaccessible page: a text at 40 without a NUL
  // until the last byte becomes one. fuzz/received_fuzz walks every offset.
  GuardedBytes guarded(std::vector<uint8_t>(64, 'q'));
  ASSERT_TRUE(guarded.ok());
  uint8_t* m = guarded.data();
  const char* text = "unset";
  uint32_t padded = 99;
  EXPECT_EQ(SimConnect_RetrieveString(m, 64, m + 40, &text, &padded), E_FAIL);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(padded, 0u);
  m[63] = 0;
  ASSERT_EQ(SimConnect_RetrieveString(m, 64, m + 40, &text, &padded), S_OK);
  EXPECT_EQ(text, reinterpret_cast<const char*>(m + 40));
  EXPECT_EQ(padded, 24u) << "23 characters, rounded down to 4s, plus 4";
}

}  // namespace
