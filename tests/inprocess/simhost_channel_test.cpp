// simhost's side of the in-process channel, with the test playing the client:
// it sends the records to simhost's main window itself, lends its own attach
// and deliver callbacks, and builds requests in the blocks simhost lends. The
// client's connection is a raw pipe that carries its Open and, once it is on
// the channel, nothing more unless simhost runs out of blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "block_pool.h"
#include "commands.h"
#include "recording_host.h"
#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"
#include "simconnect/transport/inprocess_records.h"
#include "simconnect/wire.h"
#include "simhost/simhost_test_env.h"
#include "support/bytes.h"
#include "support/test_env.h"

namespace {

LRESULT SendRecord(HWND window, std::vector<uint8_t>& record) {
  return SendMessageW(window, WM_COMMAND, static_cast<WPARAM>(inprocess::kCommandWParam),
                      reinterpret_cast<LPARAM>(record.data()));
}

template <typename Function>
Function FunctionAt(const std::vector<uint8_t>& record, size_t offset) {
  return reinterpret_cast<Function>(static_cast<uintptr_t>(U64At(record, offset)));
}

std::vector<uint8_t> SmallRecord(uint32_t size, uint32_t command, uint64_t address) {
  std::vector<uint8_t> record(24, 0);
  wire::StoreU32(record.data(), size);
  wire::StoreU32(record.data() + 4, command);
  wire::StoreU64(record.data() + 16, address);
  return record;
}

std::vector<uint8_t> Offer(uint32_t number, uint32_t connectionId, inprocess::AttachFn attach,
                           inprocess::DeliverFn deliver) {
  std::vector<uint8_t> record(32, 0);
  wire::StoreU32(record.data(), 32);
  wire::StoreU32(record.data() + 4, 1);
  wire::StoreU32(record.data() + 8, number);
  wire::StoreU32(record.data() + 12, connectionId);
  wire::StoreU64(record.data() + 16, AddressOf(reinterpret_cast<const void*>(attach)));
  wire::StoreU64(record.data() + 24, AddressOf(reinterpret_cast<const void*>(deliver)));
  return record;
}

// The played client's callbacks and what reached them.
namespace played {

struct Delivery {
  uint32_t hostConnectionId;
  uint32_t connectionId;
  uint32_t size;
  void* block;
  std::vector<uint8_t> bytes;
  DWORD thread;
};

std::mutex lock;
int attachAnswer = 1;                  // guarded by lock
std::vector<std::vector<uint8_t>> tables;  // guarded by lock
std::vector<Delivery> deliveries;      // guarded by lock

void Reset(int answer) {
  std::lock_guard<std::mutex> guard(lock);
  attachAnswer = answer;
  tables.clear();
  deliveries.clear();
}

int Attach(const uint8_t* table) {
  std::lock_guard<std::mutex> guard(lock);
  tables.emplace_back(table, table + 48);
  return attachAnswer;
}

void Deliver(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size, void* block) {
  auto* bytes = static_cast<uint8_t*>(block);
  std::lock_guard<std::mutex> guard(lock);
  deliveries.push_back(
      Delivery{hostConnectionId, connectionId, size, block, std::vector<uint8_t>(bytes, bytes + size), GetCurrentThreadId()});
}

std::vector<Delivery> Deliveries() {
  std::lock_guard<std::mutex> guard(lock);
  return deliveries;
}

std::vector<std::vector<uint8_t>> Tables() {
  std::lock_guard<std::mutex> guard(lock);
  return tables;
}

}  // namespace played

// A pump that records its calls.
struct PumpCall {
  void* handle;
  inprocess::DispatchFn callback;
  void* context;
  DWORD thread;
};
std::mutex g_pumpLock;
std::vector<PumpCall> g_pumpCallsA;  // guarded by g_pumpLock
std::vector<PumpCall> g_pumpCallsB;  // guarded by g_pumpLock

int32_t PumpA(void* handle, inprocess::DispatchFn callback, void* context) {
  std::lock_guard<std::mutex> guard(g_pumpLock);
  g_pumpCallsA.push_back(PumpCall{handle, callback, context, GetCurrentThreadId()});
  return 0;
}
int32_t PumpB(void* handle, inprocess::DispatchFn callback, void* context) {
  std::lock_guard<std::mutex> guard(g_pumpLock);
  g_pumpCallsB.push_back(PumpCall{handle, callback, context, GetCurrentThreadId()});
  return 0;
}
size_t PumpCalls(const std::vector<PumpCall>& calls) {
  std::lock_guard<std::mutex> guard(g_pumpLock);
  return calls.size();
}

class SimhostChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(FindWindowW(L"FS98MAIN", nullptr), nullptr) << "another program has an FS98MAIN window open";
    pipe_ = UniquePipeName("channel");
    simhost::SimHostOptions options = TestHostOptions(pipe_, log_);
    options.window = true;
    std::string error;
    ASSERT_TRUE(host_.Start(options, &error)) << error;
    window_ = FindWindowW(L"FS98MAIN", nullptr);
    ASSERT_NE(window_, nullptr);
    ASSERT_NE(host_.Channels(), nullptr);
  }
  void TearDown() override { host_.Stop(); }

  // A raw pipe client that has opened as `name`; its host number in *number.
  std::unique_ptr<RawPipeClient> OpenRaw(const char* name, uint32_t* number) {
    auto client = std::make_unique<RawPipeClient>();
    Received reply;
    if (!client->Connect(pipe_) || !client->Write(OpenRequestBytes(name, 1)) || !client->Read(&reply) ||
        reply.Kind() != 2 || reply.Size() != 308) {
      ADD_FAILURE() << "no open reply for " << name;
      return nullptr;
    }
    *number = reply.U32(300);
    return client;
  }

  std::wstring pipe_;
  LogCapture log_;
  simhost::SimHost host_;
  HWND window_ = nullptr;
};

TEST_F(SimhostChannelTest, TheWindowAnswersRecordsRunsPumpsPerFrameAndIgnoresWhatDoesNotFit) {
  DWORD process = 0;
  EXPECT_EQ(GetWindowThreadProcessId(window_, &process), host_.WindowThreadId());
  EXPECT_EQ(process, GetCurrentProcessId());
  EXPECT_TRUE(log_.HasLine("main window \"FS98MAIN\" offers the in-process channel"));

  // Command 5: the unregister function's address, written before the return.
  std::vector<uint8_t> unregisterRecord = SmallRecord(24, 5, 0);
  SendRecord(window_, unregisterRecord);
  auto unregister = FunctionAt<inprocess::UnregisterFn>(unregisterRecord, 16);
  ASSERT_NE(unregister, nullptr);
  EXPECT_EQ(U32At(unregisterRecord, 0), 24u);
  EXPECT_EQ(U32At(unregisterRecord, 4), 5u);

  // Records of another size or command change nothing.
  std::vector<uint8_t> shortRecord = SmallRecord(23, 5, 0);
  SendRecord(window_, shortRecord);
  EXPECT_EQ(U64At(shortRecord, 16), 0u);
  std::vector<uint8_t> unknown = SmallRecord(24, 3, AddressOf(reinterpret_cast<const void*>(&PumpA)));
  SendRecord(window_, unknown);
  std::vector<uint8_t> shortOffer = Offer(1, 1, &played::Attach, &played::Deliver);
  wire::StoreU32(shortOffer.data(), 31);
  SendRecord(window_, shortOffer);
  EXPECT_EQ(host_.Channels()->PumpCount(), 0u);
  EXPECT_TRUE(played::Tables().empty());

  // Command 4: the pump runs once per frame on the window's thread with
  // (null, -2, -3); a second registration of the same pump adds nothing.
  std::vector<uint8_t> pumpA = SmallRecord(24, 4, AddressOf(reinterpret_cast<const void*>(&PumpA)));
  SendRecord(window_, pumpA);
  SendRecord(window_, pumpA);
  EXPECT_EQ(host_.Channels()->PumpCount(), 1u);
  EXPECT_TRUE(log_.HasLine("in-process pump registered (1 in all)"));
  host_.AdvanceFrames(3);
  ASSERT_TRUE(WaitUntil([] { return PumpCalls(g_pumpCallsA) == 3; }));
  {
    std::lock_guard<std::mutex> guard(g_pumpLock);
    for (const PumpCall& call : g_pumpCallsA) {
      EXPECT_EQ(call.handle, nullptr);
      EXPECT_EQ(reinterpret_cast<intptr_t>(call.callback), -2);
      EXPECT_EQ(reinterpret_cast<intptr_t>(call.context), -3);
      EXPECT_EQ(call.thread, host_.WindowThreadId());
    }
  }

  // Unregister removes exactly that pump; frames then reach only the other.
  unregister(reinterpret_cast<void*>(&PumpA));
  EXPECT_EQ(host_.Channels()->PumpCount(), 0u);
  EXPECT_TRUE(log_.HasLine("in-process pump unregistered (0 left)"));
  std::vector<uint8_t> pumpB = SmallRecord(24, 4, AddressOf(reinterpret_cast<const void*>(&PumpB)));
  SendRecord(window_, pumpB);
  unregister(reinterpret_cast<void*>(&PumpA));  // not registered: nothing happens
  EXPECT_EQ(host_.Channels()->PumpCount(), 1u);
  host_.AdvanceFrames(2);
  ASSERT_TRUE(WaitUntil([] { return PumpCalls(g_pumpCallsB) == 2; }));
  EXPECT_EQ(PumpCalls(g_pumpCallsA), 3u);

  // An offer for a number no open client has: attach is never called.
  std::vector<uint8_t> stray = Offer(99, 1, &played::Attach, &played::Deliver);
  SendRecord(window_, stray);
  EXPECT_TRUE(played::Tables().empty());
  EXPECT_TRUE(log_.HasLine("in-process offer for client 99 refused: no open client has that number"));

  simhost::ChannelStats stats = host_.Channels()->Stats();
  EXPECT_EQ(stats.unregisterRequests, 1u);
  EXPECT_EQ(stats.ignoredRecords, 3u);
  EXPECT_EQ(stats.pumpsRegistered, 2u);
  EXPECT_EQ(stats.pumpsUnregistered, 1u);
  EXPECT_EQ(stats.pumpCalls, 5u);
  EXPECT_EQ(stats.offers, 1u);
  EXPECT_EQ(stats.refused, 1u);
  EXPECT_EQ(stats.attached, 0u);
}

TEST_F(SimhostChannelTest, AClientOnTheChannelSubmitsRequestsAndReceivesBlocks) {
  played::Reset(1);
  simhost::BlockPool& pool = simhost::BlockPool::Instance();
  const simhost::BlockPool::Counts poolBefore = pool.Count();
  uint32_t number = 0;
  std::unique_ptr<RawPipeClient> pipe = OpenRaw("Played", &number);
  ASSERT_NE(pipe, nullptr);
  ASSERT_TRUE(log_.WaitForLine("client " + std::to_string(number) + " \"Played\" opened (pipe)"));

  // The offer: attach gets the 48-byte table, once.
  constexpr uint32_t kConnectionId = 0x55;
  std::vector<uint8_t> offer = Offer(number, kConnectionId, &played::Attach, &played::Deliver);
  SendRecord(window_, offer);
  std::vector<std::vector<uint8_t>> tables = played::Tables();
  ASSERT_EQ(tables.size(), 1u);
  const std::vector<uint8_t>& table = tables[0];
  EXPECT_EQ(U32At(table, 0), 48u);
  EXPECT_EQ(U32At(table, 4), 2u);
  EXPECT_EQ(U32At(table, 8), number);
  EXPECT_EQ(U32At(table, 12), kConnectionId);
  auto allocate = FunctionAt<inprocess::AllocateFn>(table, 16);
  auto discard = FunctionAt<inprocess::DiscardFn>(table, 24);
  auto submit = FunctionAt<inprocess::SubmitFn>(table, 32);
  auto release = FunctionAt<inprocess::ReleaseFn>(table, 40);
  ASSERT_TRUE(allocate != nullptr && discard != nullptr && submit != nullptr && release != nullptr);
  EXPECT_TRUE(log_.HasLine("client " + std::to_string(number) + " \"Played\" on the in-process channel"));
  EXPECT_TRUE(host_.OnChannel(number));
  SendRecord(window_, offer);
  EXPECT_EQ(played::Tables().size(), 1u) << "a second offer for the same client is refused";
  EXPECT_TRUE(log_.HasLine("in-process offer for client " + std::to_string(number) +
                           " refused: it is on the channel already"));

  // A request built in a lent block; its answer comes back as a block, on the
  // thread that submitted it.
  uint32_t sendId = 1;
  auto build = [&](uint32_t size, const std::function<void(uint8_t*)>& write) {
    auto* block = static_cast<uint8_t*>(allocate(number, kConnectionId, size));
    if (block == nullptr) return block;
    std::memset(block, 0, size);
    wire::StoreU32(block + 12, ++sendId);
    write(block);
    return block;
  };
  uint8_t* remove = build(24, [](uint8_t* r) { request_encoding::WriteMenuRemoveSubItem(r, 4, 5); });
  ASSERT_NE(remove, nullptr);
  submit(number, kConnectionId, 24, remove);
  std::vector<played::Delivery> deliveries = played::Deliveries();
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_EQ(deliveries[0].hostConnectionId, number);
  EXPECT_EQ(deliveries[0].connectionId, kConnectionId);
  EXPECT_EQ(deliveries[0].size, 24u);
  EXPECT_EQ(deliveries[0].thread, GetCurrentThreadId());
  // Exception 17 (unknown menu item) for SendID 2, argument 1.
  EXPECT_EQ(deliveries[0].bytes, Bytes(24).U32(0, 24).U32(4, 6).U32(8, 1).U32(12, 17).U32(16, 2).U32(20, 1).vec());
  release(number, kConnectionId, deliveries[0].block);

  // A menu event chosen from another thread is delivered on that thread.
  uint8_t* item = build(280, [](uint8_t* r) { request_encoding::WriteMenuAddItem(r, "Played Item", 31, 32); });
  ASSERT_NE(item, nullptr);
  submit(number, kConnectionId, 280, item);
  ASSERT_TRUE(log_.HasLine("menu of client " + std::to_string(number) + " \"Played\": Played Item"));
  DWORD consoleThread = 0;
  std::thread console([&] {
    consoleThread = GetCurrentThreadId();
    host_.Core().ChooseMenuItem("Played Item");
  });
  console.join();
  deliveries = played::Deliveries();
  ASSERT_EQ(deliveries.size(), 2u);
  EXPECT_EQ(deliveries[1].thread, consoleThread);
  EXPECT_EQ(deliveries[1].bytes, Bytes(24).U32(0, 24).U32(4, 6).U32(8, 4).U32(12, 0xFFFFFFFF).U32(16, 31).U32(20, 32).vec());
  release(number, kConnectionId, deliveries[1].block);
  release(number, kConnectionId, deliveries[1].block);  // twice: refused

  // Discard, and blocks that are not out for a request.
  uint8_t* unused = build(24, [](uint8_t* r) { request_encoding::WriteMenuRemoveSubItem(r, 31, 1); });
  ASSERT_NE(unused, nullptr);
  discard(number, kConnectionId, unused);
  submit(number, kConnectionId, 24, unused);  // discarded already: not read
  uint8_t foreign[24] = {};
  submit(number, kConnectionId, sizeof foreign, foreign);
  uint8_t* mismatched = build(24, [](uint8_t* r) { request_encoding::WriteMenuRemoveSubItem(r, 31, 1); });
  wire::StoreU32(mismatched, 20);
  submit(number, kConnectionId, 24, mismatched);
  EXPECT_TRUE(log_.HasLine("in-process request of client " + std::to_string(number) +
                           " dropped: its size field does not match the block"));
  EXPECT_EQ(allocate(number, kConnectionId + 1, 24), nullptr) << "another connection id";
  EXPECT_EQ(allocate(number, kConnectionId, 131073), nullptr) << "larger than any request";
  EXPECT_EQ(played::Deliveries().size(), 2u) << "none of these was handled";

  // No block for a message: it takes the pipe instead. A 65536-byte area
  // sent at once needs a 128 KiB block, a size nothing has needed so far.
  auto send = [&](uint32_t size, const std::function<void(uint8_t*)>& write) {
    uint8_t* block = build(size, write);
    if (block != nullptr) submit(number, kConnectionId, size, block);
    return block != nullptr;
  };
  ASSERT_TRUE(send(protocol::map_client_data_name_to_id::kSize,
                   [](uint8_t* r) { request_encoding::WriteMapClientDataNameToId(r, "BIG", 1); }));
  ASSERT_TRUE(send(protocol::create_client_data::kSize,
                   [](uint8_t* r) { request_encoding::WriteCreateClientData(r, 1, 65536, 0); }));
  ASSERT_TRUE(send(protocol::add_to_client_data_definition::kSize,
                   [](uint8_t* r) { request_encoding::WriteAddToClientDataDefinition(r, 2, 0, 65536, 0.0f, 0); }));
  auto requestArea = [](uint8_t* r) { request_encoding::WriteRequestClientData(r, 1, 9, 2, 1, 0, 0, 0, 0); };
  pool.SetLimit(pool.Count().bytes);
  ASSERT_TRUE(send(protocol::request_client_data::kSize, requestArea));
  pool.SetLimit(simhost::BlockPool::kDefaultLimitBytes);
  Received big;
  ASSERT_TRUE(pipe->Read(&big));
  EXPECT_EQ(big.Size(), 40u + 65536u);
  EXPECT_EQ(big.Kind(), 16u);
  EXPECT_EQ(big.U32(12), 9u);
  EXPECT_EQ(played::Deliveries().size(), 2u);
  // With blocks to be had again, the same request is answered in a block.
  ASSERT_TRUE(send(protocol::request_client_data::kSize, requestArea));
  deliveries = played::Deliveries();
  ASSERT_EQ(deliveries.size(), 3u);
  EXPECT_EQ(deliveries[2].size, 40u + 65536u);
  EXPECT_EQ(deliveries[2].bytes, big.bytes);
  release(number, kConnectionId, deliveries[2].block);
  Received none;
  EXPECT_FALSE(pipe->Read(&none, 200)) << "nothing else took the pipe";

  // The console shows who is on the channel and what crossed it.
  simhost::CommandRunner commands(host_);
  std::string error;
  ASSERT_EQ(commands.Run("clients", &error), simhost::CommandRunner::kDone) << error;
  EXPECT_TRUE(log_.HasLine("client " + std::to_string(number) + " \"Played\" (pipe, in-process channel)"));
  ASSERT_EQ(commands.Run("channel", &error), simhost::CommandRunner::kDone) << error;
  EXPECT_TRUE(log_.HasLine("in-process channel: 1 clients attached, 1 refused; 0 pumps, 0 pump calls"));
  EXPECT_TRUE(log_.HasLine("requests: 7 submitted, 1 discarded, 1 dropped; messages: 3 delivered, 3 released, "
                           "1 over the pipe"));

  // The client leaves; its channel goes with its session, and once its
  // connection is gone so is everything the channel held.
  EXPECT_EQ(host_.Channels()->ChannelCount(), 1u);
  pipe.reset();
  ASSERT_TRUE(WaitUntil([&] { return !host_.OnChannel(number); }));
  ASSERT_TRUE(WaitUntil([&] { return host_.ConnectionCount() == 0; }));
  EXPECT_EQ(host_.Channels()->ChannelCount(), 0u);

  simhost::ChannelStats stats = host_.Channels()->Stats();
  EXPECT_EQ(stats.offers, 2u);
  EXPECT_EQ(stats.attached, 1u);
  EXPECT_EQ(stats.refused, 1u);
  EXPECT_EQ(stats.allocated, 9u);
  EXPECT_EQ(stats.allocateRefused, 2u);
  EXPECT_EQ(stats.submitted, 7u);
  EXPECT_EQ(stats.submitDropped, 1u);
  EXPECT_EQ(stats.discarded, 1u);
  EXPECT_EQ(stats.badBlocks, 3u) << "a second release, a discarded block, a foreign block";
  EXPECT_EQ(stats.delivered, 3u);
  EXPECT_EQ(stats.released, 3u);
  EXPECT_EQ(stats.deliveredToPipe, 1u);
  const simhost::BlockPool::Counts poolAfter = pool.Count();
  EXPECT_EQ(poolAfter.outForRequest, poolBefore.outForRequest);
  EXPECT_EQ(poolAfter.outForMessage, poolBefore.outForMessage);
}

TEST_F(SimhostChannelTest, AClientThatRefusesTheTableStaysOnItsPipe) {
  played::Reset(0);
  uint32_t number = 0;
  std::unique_ptr<RawPipeClient> pipe = OpenRaw("Refuser", &number);
  ASSERT_NE(pipe, nullptr);
  std::vector<uint8_t> offer = Offer(number, 7, &played::Attach, &played::Deliver);
  SendRecord(window_, offer);
  ASSERT_EQ(played::Tables().size(), 1u) << "the table was offered";
  EXPECT_TRUE(log_.HasLine("client " + std::to_string(number) + " \"Refuser\" refused the in-process channel"));
  EXPECT_FALSE(host_.OnChannel(number));

  // Its messages still take the pipe.
  std::vector<uint8_t> remove(protocol::menu_remove_sub_item::kSize, 0);
  wire::StoreU32(remove.data() + 12, 2);
  request_encoding::WriteMenuRemoveSubItem(remove.data(), 4, 5);
  ASSERT_TRUE(pipe->Write(remove));
  Received exception;
  ASSERT_TRUE(pipe->Read(&exception));
  EXPECT_EQ(exception.bytes, Bytes(24).U32(0, 24).U32(4, 6).U32(8, 1).U32(12, 17).U32(16, 2).U32(20, 1).vec());
  EXPECT_TRUE(played::Deliveries().empty());
  // A table refused is no table: its functions lend nothing.
  auto allocate = FunctionAt<inprocess::AllocateFn>(played::Tables()[0], 16);
  EXPECT_EQ(allocate(number, 7, 24), nullptr);
}

}  // namespace
