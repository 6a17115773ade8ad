// The client library's side of the in-process channel, against a simulator
// the test plays itself: a window of class "FS98MAIN" that keeps every record
// sent to it, host functions that record their calls, and a raw pipe server for
// each connection's Open and its reply. (A window of another process is
// inprocess_bridge_test's.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "support/bytes.h"
#include "support/failing_allocations.h"
#include "support/library_link.h"

namespace {

using Records = std::vector<std::vector<uint8_t>>;
using AttachFn = int (*)(const uint8_t* table);
using DeliverFn = void (*)(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size, void* block);

// One call of a host function: 'A'llocate, 'D'iscard, 'S'ubmit, 'R'elease or
// 'U'nregister, with its arguments and, for a submit, the block's bytes.
struct HostCall {
  char kind;
  uint32_t host, connection, size;
  void* block;
  std::vector<uint8_t> bytes;
};
std::vector<HostCall> g_calls;
bool g_lending = true;  // while false, allocate answers null

std::string Kinds() {
  std::string kinds;
  for (const HostCall& call : g_calls) kinds += call.kind;
  return kinds;
}
std::vector<void*> Released() {
  std::vector<void*> blocks;
  for (const HostCall& call : g_calls) if (call.kind == 'R') blocks.push_back(call.block);
  return blocks;
}

void* Allocate(uint32_t host, uint32_t connection, uint32_t size) {
  // Filled with a pattern: the client must zero what it builds in.
  void* block = g_lending ? std::memset(new uint8_t[size], 0xCD, size) : nullptr;
  g_calls.push_back({'A', host, connection, size, block, {}});
  return block;
}
void Discard(uint32_t host, uint32_t connection, void* block) {
  g_calls.push_back({'D', host, connection, 0, block, {}});
  delete[] static_cast<uint8_t*>(block);
}
void Submit(uint32_t host, uint32_t connection, uint32_t size, void* block) {
  auto* bytes = static_cast<uint8_t*>(block);
  g_calls.push_back({'S', host, connection, size, block, std::vector<uint8_t>(bytes, bytes + size)});
  delete[] bytes;
}
void Release(uint32_t host, uint32_t connection, void* block) { g_calls.push_back({'R', host, connection, 0, block, {}}); }
void Unregister(void* pump) { g_calls.push_back({'U', 0, 0, 0, pump, {}}); }

// A command 2 table with the functions above.
std::vector<uint8_t> Table(uint32_t host, uint32_t connection) {
  return Bytes(48).U32(0, 48).U32(4, 2).U32(8, host).U32(12, connection).U64(16, AddressOf(&Allocate))
      .U64(24, AddressOf(&Discard)).U64(32, AddressOf(&Submit)).U64(40, AddressOf(&Release)).vec();
}

// The client sends its records from the window's own thread, so SendMessageW
// calls this directly. Command 5 is answered with the unregister function.
Records g_records;
LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COMMAND || wParam != 0x2002A) return DefWindowProcW(window, message, wParam, lParam);
  auto* record = reinterpret_cast<uint8_t*>(lParam);
  g_records.emplace_back(record, record + (record[0] < 64 ? record[0] : 64));
  if (g_records.back()[4] == 5) std::memcpy(record + 16, Bytes(8).U64(0, AddressOf(&Unregister)).vec().data(), 8);
  return 0;
}

// An open reply (kind 2 unless told) of `size` bytes carrying `number` at 300.
std::vector<uint8_t> OpenReply(uint32_t size, uint32_t number, uint32_t kind = 2) {
  std::vector<uint8_t> reply = MakeReceived(kind, size);
  return size >= 304 ? Bytes(size).Raw(0, reply.data(), 12).U32(300, number).vec() : reply;
}

uint32_t IdOf(const LibraryLink& link) { return static_cast<SimConnectClient*>(link.handle)->CurrentConnectionId(); }
// Where the next message GetNextDispatch hands out lies; null when none came.
const void* NextAt(LibraryLink& link, DWORD timeoutMs = 0) {
  const void* address = nullptr;
  link.Next(timeoutMs, &address);
  return address;
}
// Writes the reply and lets GetNextDispatch hand it out, which shows it to the channel.
bool DispatchReply(LibraryLink& link, const std::vector<uint8_t>& reply) {
  return link.server->Write(reply) && link.Next() == reply;
}

class InProcessClient : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WaitUntil([] { return LiveConnections() == 0; })) << "connections of an earlier test live on";
    ASSERT_EQ(FindWindowW(L"FS98MAIN", nullptr), nullptr) << "another program has an FS98MAIN window open";
    const WNDCLASSW windowClass{0, WindowProc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr, nullptr, L"FS98MAIN"};
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    window = CreateWindowExW(0, L"FS98MAIN", L"", 0, 0, 0, 0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    g_records.clear();
    g_calls.clear();
    g_lending = true;
  }
  void TearDown() override {
    DestroyWindow(window);
    UnregisterClassW(L"FS98MAIN", GetModuleHandleW(nullptr));
  }
  HWND window = nullptr;
};

TEST_F(InProcessClient, EachConnectionRegistersTheFirstPumpsAndEachGetsOneOffer) {
  const std::vector<uint8_t> askUnregister = Bytes(24).U32(0, 24).U32(4, 5).vec();
  LibraryLink a("A", 41088, LibraryLink::kOpen);
  ASSERT_TRUE(a.connected());
  EXPECT_EQ(g_records, (Records{askUnregister, Bytes(24).U32(0, 24).U32(4, 4).U64(16, AddressOf(&SimConnect_CallDispatch)).vec()}));
  LibraryLink b("B", 41088, LibraryLink::kOpen);
  ASSERT_TRUE(b.connected());
  EXPECT_EQ(Records(g_records.begin() + 2, g_records.end()), Records{askUnregister}) << "the second does not pump";
  // Only an open reply of exactly 308 bytes, of kind 2, with a number, brings
  // an offer; requests meanwhile go over the pipe.
  for (const auto& reply : {OpenReply(307, 9), OpenReply(309, 9), OpenReply(308, 0), OpenReply(308, 9, 4)}) {
    ASSERT_TRUE(DispatchReply(a, reply));
  }
  EXPECT_EQ(g_records.size(), 3u);
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(a.handle, 1, 2), S_OK);
  EXPECT_EQ(a.server->ReadMessage(), Bytes(24).Header(0xF0000034, 2).U32(16, 1).U32(20, 2).vec());
  // Then the offer: the host's number, the ConnectionId, two callbacks.
  ASSERT_TRUE(DispatchReply(a, OpenReply(308, 7)));
  ASSERT_EQ(g_records.size(), 4u);
  EXPECT_EQ(Bytes(16).Raw(0, g_records[3].data(), 16).vec(), Bytes(16).U32(0, 32).U32(4, 1).U32(8, 7).U32(12, IdOf(a)).vec());
  EXPECT_NE(U64At(g_records[3], 16), U64At(g_records[3], 24));
  ASSERT_TRUE(DispatchReply(a, OpenReply(308, 8)));
  EXPECT_EQ(g_records.size(), 4u) << "one offer per connection";
  // The last connection's close unregisters the pump, not an earlier one.
  a.Close();
  EXPECT_EQ(Kinds(), "");
  b.Close();
  ASSERT_EQ(Kinds(), "U");
  EXPECT_EQ(g_calls[0].block, reinterpret_cast<void*>(&SimConnect_CallDispatch));
}

TEST_F(InProcessClient, RequestsAreBuiltInBlocksOfTheOneTableTakenAndDeliveredBlocksGoBackOnce) {
  LibraryLink a("A", 41088, LibraryLink::kOpen);
  ASSERT_TRUE(a.connected());
  ASSERT_TRUE(DispatchReply(a, OpenReply(308, 7)));
  auto attach = reinterpret_cast<AttachFn>(U64At(g_records.at(2), 16));
  // Refused: no table, another size, another command, host number or connection.
  const std::vector<uint8_t> table = Table(7, IdOf(a));
  EXPECT_EQ(attach(nullptr), 0);
  for (const auto& wrong : {Bytes(48).Raw(0, table.data(), 48).U32(0, 47).vec(),
                            Bytes(48).Raw(0, table.data(), 48).U32(4, 1).vec(), Table(8, IdOf(a)), Table(7, IdOf(a) + 1)})
    EXPECT_EQ(attach(wrong.data()), 0);
  EXPECT_EQ(attach(table.data()), 1);
  // A second table is refused: its functions (here garbage) are never called.
  EXPECT_EQ(attach(Bytes(48).Raw(0, table.data(), 16).U64(16, 1).U64(24, 1).U64(32, 1).U64(40, 1).vec().data()), 0);
  // A request: one block of its size, zeroed, numbered, built, submitted once.
  // A string too long: the block goes back unsubmitted; its SendID is spent.
  // A host that lends nothing: the request goes to the pipe, numbered in turn.
  ASSERT_EQ(SimConnect_MenuAddItem(a.handle, "Tools", 3, 9), S_OK);
  ASSERT_EQ(SimConnect_MenuAddItem(a.handle, std::string(256, 'x').c_str(), 4, 0), kResultStringTooLong);
  g_lending = false;
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(a.handle, 1, 2), S_OK);
  EXPECT_EQ(a.server->ReadMessage(), Bytes(24).Header(0xF0000034, 4).U32(16, 1).U32(20, 2).vec());
  g_lending = true;
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(a.handle, 1, 3), S_OK);
  ASSERT_EQ(Kinds(), "ASADAAS");
  for (const HostCall& call : g_calls) EXPECT_EQ(std::make_pair(call.host, call.connection), std::make_pair(7u, IdOf(a)));
  EXPECT_EQ(g_calls[0].size, 280u);
  EXPECT_EQ(g_calls[1].block, g_calls[0].block);
  EXPECT_EQ(g_calls[1].bytes, Bytes(280).Header(0xF0000031, 2).Text(16, "Tools").U32(272, 3).U32(276, 9).vec());
  EXPECT_EQ(g_calls[3].block, g_calls[2].block);
  EXPECT_EQ(g_calls[6].bytes, Bytes(24).Header(0xF0000034, 5).U32(16, 1).U32(20, 3).vec());
  EXPECT_TRUE(a.server->ReadMessage(200).empty()) << "nothing more on the pipe";

  // Delivered blocks are read in place and go back to the host exactly once.
  const auto deliver = reinterpret_cast<DeliverFn>(U64At(g_records.at(2), 24));
  g_calls.clear();
  a.event.Wait(0);  // a notification the open reply may have left
  Records blocks(9, MakeReceived(4, 24));
  const auto at = [&blocks](size_t i) { return static_cast<void*>(blocks[i].data()); };
  // Blocks for no connection of this process are ignored and never released.
  deliver(8, IdOf(a), 24, at(0));
  deliver(7, IdOf(a) + 1, 24, at(0));
  EXPECT_FALSE(a.event.Wait(100));
  EXPECT_EQ(NextAt(a), nullptr);
  // GetNextDispatch hands out the block itself and gives it back at the
  // following call; CallDispatch gives each back right after its callback.
  deliver(7, IdOf(a), 24, at(1));
  EXPECT_TRUE(a.event.IsSet());
  EXPECT_EQ(NextAt(a), at(1));
  deliver(7, IdOf(a), 24, at(2));
  EXPECT_EQ(NextAt(a), at(2));
  deliver(7, IdOf(a), 24, at(3));
  deliver(7, IdOf(a), 24, at(4));
  std::vector<std::pair<const void*, size_t>> dispatched;  // message, blocks released before its callback
  ASSERT_EQ(SimConnect_CallDispatch(a.handle, [](const void* message, uint32_t, void* seen) {
    static_cast<std::vector<std::pair<const void*, size_t>>*>(seen)->emplace_back(message, Released().size());
  }, &dispatched), S_OK);
  EXPECT_EQ(dispatched, (std::vector<std::pair<const void*, size_t>>{{at(3), 1}, {at(4), 2}}));
  // Without memory for the record, then for the queue's node, a delivered
  // block goes back to the host at once (never freed here) and wakes nobody.
  a.event.Wait(0);
  failing_allocations::FailNext(0, 1);
  deliver(7, IdOf(a), 24, at(5));
  failing_allocations::FailNext(1, 1);
  deliver(7, IdOf(a), 24, at(6));
  EXPECT_EQ(Released(), (std::vector<void*>{at(1), at(3), at(4), at(5), at(6)}));
  EXPECT_FALSE(a.event.IsSet());
  // With memory again the channel goes on; the close gives back the block
  // still queued and the one still current.
  deliver(7, IdOf(a), 24, at(7));
  deliver(7, IdOf(a), 24, at(8));
  EXPECT_EQ(NextAt(a), at(7));
  a.Close();
  EXPECT_EQ(Released(), (std::vector<void*>{at(1), at(3), at(4), at(5), at(6), at(2), at(8), at(7)}));
  for (const HostCall& call : g_calls) EXPECT_EQ(call.kind == 'R' ? call.host : 7, 7u);
}

}  // namespace
