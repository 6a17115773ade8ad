// The client library's side of the in-process channel, against a simulator
// the test plays itself: a window of class "FS98MAIN" in this process that
// records what it is sent, host functions that record their calls, and a raw
// pipe server per connection that answers Open with whatever reply the test
// chooses.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "recording_host.h"
#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "simconnect/wire.h"
#include "simhost/simhost_test_env.h"
#include "support/bytes.h"
#include "support/failing_allocations.h"
#include "support/raw_server.h"
#include "support/test_env.h"

namespace {

SimConnectClient* ClientOf(HANDLE handle) { return static_cast<SimConnectClient*>(handle); }

// An open reply (kind 2 unless told) of `size` bytes carrying `number` at 300.
std::vector<uint8_t> OpenReply(uint32_t size, uint32_t number, uint32_t kind = 2) {
  std::vector<uint8_t> reply = MakeReceived(kind, size);
  if (size >= 304) wire::StoreU32(reply.data() + 300, number);
  return reply;
}

// One connection of the library opened with SimConnect_Open through a
// configuration section that names a pipe of a RawServer.
class PipeConnection {
 public:
  bool Open(uint32_t index, const std::wstring& path, const char* name) {
    server_ = RawServer::ListenPipe(path);
    if (server_ == nullptr) return false;
    if (SimConnect_Open(&handle_, name, nullptr, 0, event_.handle, index) != S_OK) return false;
    // The Open request itself travels over the pipe.
    return server_->Accept() && U32At(server_->ReadMessage(), 8) == 0xF0000001u;
  }
  ~PipeConnection() { Close(); }

  HANDLE handle() const { return handle_; }
  SimConnectClient* client() const { return ClientOf(handle_); }
  RawServer& server() { return *server_; }
  const TestEvent& event() const { return event_; }

  // The next message SimConnect_GetNextDispatch hands out: its bytes and its
  // address. False when none came within `timeoutMs`.
  bool Next(std::vector<uint8_t>* bytes, const void** address = nullptr, DWORD timeoutMs = 3000) {
    DWORD start = GetTickCount();
    for (;;) {
      const void* message = nullptr;
      uint32_t size = 0;
      if (SimConnect_GetNextDispatch(handle_, &message, &size) == S_OK) {
        const auto* data = static_cast<const uint8_t*>(message);
        bytes->assign(data, data + size);
        if (address != nullptr) *address = message;
        return true;
      }
      DWORD elapsed = GetTickCount() - start;
      if (elapsed >= timeoutMs) return false;
      event_.Wait(timeoutMs - elapsed);
    }
  }

  // Writes the reply and lets GetNextDispatch hand it out (which shows it to
  // the open-reply hook).
  bool DispatchReply(const std::vector<uint8_t>& reply) {
    std::vector<uint8_t> got;
    return server_->Write(reply) && Next(&got) && got == reply;
  }

  void Close() {
    if (handle_ != nullptr) SimConnect_Close(handle_);
    handle_ = nullptr;
  }

 private:
  std::unique_ptr<RawServer> server_;
  TestEvent event_;
  HANDLE handle_ = nullptr;
};

class ClientChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recording_host::Reset();
    ASSERT_TRUE(WaitUntil([] { return LiveConnections() == 0; })) << "connections of an earlier test live on";
    pathA_ = UniquePipePath("channel-a");
    pathB_ = UniquePipePath("channel-b");
    ASSERT_TRUE(WriteClientConfig({{1, "Pipe", ".", Narrow(PipeNameOf(pathA_))},
                                   {2, "Pipe", ".", Narrow(PipeNameOf(pathB_))}}));
  }

  // The test's window, which must be the one FindWindowW finds.
  void CreateWindowOfThisProcess() {
    ASSERT_EQ(FindWindowW(L"FS98MAIN", nullptr), nullptr) << "another program has an FS98MAIN window open";
    ASSERT_TRUE(window_.Create());
    ASSERT_EQ(FindWindowW(L"FS98MAIN", nullptr), window_.handle());
  }

  // Opens `connection` on section 1 (a) or 2 (b), dispatches an open reply
  // with `number`, and hands the connection the recording host's table.
  void OpenAttached(PipeConnection& connection, bool a, uint32_t number) {
    ASSERT_TRUE(connection.Open(a ? 1 : 2, a ? pathA_ : pathB_, a ? "A" : "B"));
    size_t before = window_.Records().size();
    ASSERT_TRUE(connection.DispatchReply(OpenReply(308, number)));
    std::vector<std::vector<uint8_t>> records = window_.Records();
    ASSERT_EQ(records.size(), before + 1);
    const std::vector<uint8_t>& offer = records.back();
    auto attach = reinterpret_cast<inprocess::AttachFn>(static_cast<uintptr_t>(U64At(offer, 16)));
    ASSERT_EQ(attach(recording_host::Table(number, connection.client()->CurrentConnectionId()).data()), 1);
    deliver_ = reinterpret_cast<inprocess::DeliverFn>(static_cast<uintptr_t>(U64At(offer, 24)));
  }

  std::wstring pathA_;
  std::wstring pathB_;
  RecordingWindow window_;
  inprocess::DeliverFn deliver_ = nullptr;
};

TEST_F(ClientChannelTest, WithoutAWindowOfThisProcessNothingIsRegistered) {
  ASSERT_EQ(FindWindowW(L"FS98MAIN", nullptr), nullptr) << "another program has an FS98MAIN window open";
  PipeConnection alone;
  ASSERT_TRUE(alone.Open(1, pathA_, "Alone"));
  EXPECT_EQ(alone.client()->channelState, 0u);
  // Without registration the open reply is handed out and nothing else.
  ASSERT_TRUE(alone.DispatchReply(OpenReply(308, 5)));
  EXPECT_EQ(alone.client()->channelState, 0u);
  EXPECT_EQ(alone.client()->hostConnectionId, 0u);

  // A window of the class in another process.
  ChildProcess other;
  ASSERT_TRUE(other.Start(L"window"));
  ASSERT_TRUE(other.WaitForOutput("ready"));
  HWND foreign = FindWindowW(L"FS98MAIN", nullptr);
  ASSERT_NE(foreign, nullptr);
  DWORD foreignProcess = 0;
  GetWindowThreadProcessId(foreign, &foreignProcess);
  EXPECT_NE(foreignProcess, GetCurrentProcessId());

  PipeConnection beside;
  ASSERT_TRUE(beside.Open(2, pathB_, "Beside"));
  EXPECT_EQ(beside.client()->channelState, 0u);
  EXPECT_EQ(beside.client()->simulatorWindow, nullptr);
  EXPECT_EQ(beside.client()->hostUnregister, nullptr);
  ASSERT_TRUE(beside.DispatchReply(OpenReply(308, 6)));
  EXPECT_EQ(beside.client()->channelState, 0u);
  beside.Close();
  alone.Close();

  other.CloseInput();
  EXPECT_EQ(other.Wait(), 0);
  EXPECT_NE(other.Output().find("records 0"), std::string::npos) << other.Output();
  EXPECT_TRUE(recording_host::Calls().empty()) << "no unregister without registration";
}

TEST_F(ClientChannelTest, EveryConnectionAsksForUnregisterOnlyTheFirstRegistersThePump) {
  CreateWindowOfThisProcess();
  PipeConnection a;
  ASSERT_TRUE(a.Open(1, pathA_, "A"));
  std::vector<std::vector<uint8_t>> records = window_.Records();
  ASSERT_EQ(records.size(), 2u);
  // Command 5 as sent: size, command, and zeros where the answer goes.
  EXPECT_EQ(records[0], Bytes(24).U32(0, 24).U32(4, 5).vec());
  EXPECT_EQ(records[1], Bytes(24)
                            .U32(0, 24)
                            .U32(4, 4)
                            .U32(16, static_cast<uint32_t>(AddressOf(reinterpret_cast<const void*>(&SimConnect_CallDispatch))))
                            .U32(20, static_cast<uint32_t>(AddressOf(reinterpret_cast<const void*>(&SimConnect_CallDispatch)) >> 32))
                            .vec());
  EXPECT_EQ(a.client()->channelState, 1u);
  EXPECT_EQ(a.client()->simulatorWindow, window_.handle());
  EXPECT_EQ(reinterpret_cast<void*>(a.client()->hostUnregister), reinterpret_cast<void*>(&recording_host::Unregister))
      << "the address the window wrote into the command 5 record";

  PipeConnection b;
  ASSERT_TRUE(b.Open(2, pathB_, "B"));
  records = window_.Records();
  ASSERT_EQ(records.size(), 3u) << "the second connection sends command 5 alone";
  EXPECT_EQ(records[2], Bytes(24).U32(0, 24).U32(4, 5).vec());
  EXPECT_EQ(b.client()->channelState, 1u);

  // Both go on over their pipes: requests before any table are written there.
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(b.handle(), 1, 2), S_OK);
  EXPECT_EQ(b.server().ReadMessage(), Bytes(24).Header(0xF0000034, 2).U32(16, 1).U32(20, 2).vec());
  EXPECT_TRUE(recording_host::Calls().empty());
}

TEST_F(ClientChannelTest, OnlyAnOpenReplyOfExactly308BytesWithANumberBringsTheOffer) {
  CreateWindowOfThisProcess();
  PipeConnection a;
  ASSERT_TRUE(a.Open(1, pathA_, "A"));
  ASSERT_EQ(window_.Records().size(), 2u);

  for (const auto& reply : {OpenReply(307, 9), OpenReply(309, 9), OpenReply(308, 0), OpenReply(308, 9, 4)}) {
    ASSERT_TRUE(a.DispatchReply(reply));
    EXPECT_EQ(window_.Records().size(), 2u) << "no offer for a reply of " << reply.size() << " bytes";
    EXPECT_EQ(a.client()->channelState, 1u);
    EXPECT_EQ(a.client()->hostConnectionId, 0u);
  }

  // Through SimConnect_CallDispatch the hook sees the reply before the callback.
  ASSERT_TRUE(a.server().Write(OpenReply(308, 7)));
  ASSERT_TRUE(a.event().Wait());
  struct Seen {
    size_t records = 0;
    RecordingWindow* window = nullptr;
    uint32_t calls = 0;
  } seen;
  seen.window = &window_;
  ASSERT_EQ(SimConnect_CallDispatch(
                a.handle(),
                [](const void*, uint32_t size, void* context) {
                  auto* s = static_cast<Seen*>(context);
                  ++s->calls;
                  s->records = s->window->Records().size();
                },
                &seen),
            S_OK);
  EXPECT_EQ(seen.calls, 1u);
  EXPECT_EQ(seen.records, 3u) << "the offer went out before the callback ran";
  std::vector<std::vector<uint8_t>> records = window_.Records();
  ASSERT_EQ(records.size(), 3u);
  const std::vector<uint8_t>& offer = records[2];
  ASSERT_EQ(offer.size(), 32u);
  EXPECT_EQ(U32At(offer, 0), 32u);
  EXPECT_EQ(U32At(offer, 4), 1u);
  EXPECT_EQ(U32At(offer, 8), 7u);
  EXPECT_EQ(U32At(offer, 12), a.client()->CurrentConnectionId());
  EXPECT_NE(U64At(offer, 16), 0u);
  EXPECT_NE(U64At(offer, 24), 0u);
  EXPECT_NE(U64At(offer, 16), U64At(offer, 24));
  EXPECT_EQ(a.client()->channelState, 2u);
  EXPECT_EQ(a.client()->hostConnectionId, 7u);

  // One offer per connection: a later reply changes nothing.
  ASSERT_TRUE(a.DispatchReply(OpenReply(308, 8)));
  EXPECT_EQ(window_.Records().size(), 3u);
  EXPECT_EQ(a.client()->hostConnectionId, 7u);
  EXPECT_FALSE(a.client()->channelActive) << "no table yet";
}

TEST_F(ClientChannelTest, AttachTakesOneMatchingTableOnce) {
  CreateWindowOfThisProcess();
  PipeConnection a;
  ASSERT_TRUE(a.Open(1, pathA_, "A"));
  ASSERT_TRUE(a.DispatchReply(OpenReply(308, 7)));
  std::vector<std::vector<uint8_t>> records = window_.Records();
  ASSERT_EQ(records.size(), 3u);
  auto attach = reinterpret_cast<inprocess::AttachFn>(static_cast<uintptr_t>(U64At(records[2], 16)));
  const uint32_t id = a.client()->CurrentConnectionId();

  EXPECT_EQ(attach(nullptr), 0);
  std::vector<uint8_t> table = recording_host::Table(7, id);
  std::vector<uint8_t> wrongSize = table;
  wire::StoreU32(wrongSize.data(), 47);
  EXPECT_EQ(attach(wrongSize.data()), 0);
  std::vector<uint8_t> wrongCommand = table;
  wire::StoreU32(wrongCommand.data() + 4, 1);
  EXPECT_EQ(attach(wrongCommand.data()), 0);
  EXPECT_EQ(attach(recording_host::Table(8, id).data()), 0) << "another host number";
  EXPECT_EQ(attach(recording_host::Table(7, id + 1).data()), 0) << "another connection id";
  EXPECT_FALSE(a.client()->channelActive);
  EXPECT_EQ(a.client()->hostAllocate, nullptr);

  EXPECT_EQ(attach(table.data()), 1);
  EXPECT_TRUE(a.client()->channelActive);
  // A second table for the same connection is refused and the first stays.
  std::vector<uint8_t> second = table;
  for (uint32_t offset = 16; offset < 48; offset += 8) wire::StoreU64(second.data() + offset, 0x1111);
  EXPECT_EQ(attach(second.data()), 0);
  EXPECT_EQ(reinterpret_cast<void*>(a.client()->hostAllocate.load()), reinterpret_cast<void*>(&recording_host::Allocate));
  EXPECT_EQ(reinterpret_cast<void*>(a.client()->hostRelease.load()), reinterpret_cast<void*>(&recording_host::Release));
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(a.handle(), 1, 2), S_OK);
  EXPECT_EQ(recording_host::CallsOf(HostCall::kSubmit).size(), 1u) << "the first table's submit took the request";
}

TEST_F(ClientChannelTest, RequestsAreBuiltInHostBlocksAndGoToThePipeWhenTheHostLendsNone) {
  CreateWindowOfThisProcess();
  PipeConnection a;
  OpenAttached(a, true, 7);
  const uint32_t id = a.client()->CurrentConnectionId();

  // A request: one block of its size, zeroed, numbered, built and submitted.
  ASSERT_EQ(SimConnect_MenuAddItem(a.handle(), "Tools", 3, 9), S_OK);
  std::vector<HostCall> calls = recording_host::Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].kind, HostCall::kAllocate);
  EXPECT_EQ(calls[0].hostConnectionId, 7u);
  EXPECT_EQ(calls[0].connectionId, id);
  EXPECT_EQ(calls[0].size, 280u);
  EXPECT_EQ(calls[1].kind, HostCall::kSubmit);
  EXPECT_EQ(calls[1].hostConnectionId, 7u);
  EXPECT_EQ(calls[1].connectionId, id);
  EXPECT_EQ(calls[1].size, 280u);
  EXPECT_EQ(calls[1].block, calls[0].block);
  EXPECT_EQ(calls[1].bytes, Bytes(280).Header(0xF0000031, 2).Text(16, "Tools").U32(272, 3).U32(276, 9).vec());

  // A string too long: the block goes back unsubmitted, its SendID is spent.
  ASSERT_EQ(SimConnect_MenuAddItem(a.handle(), std::string(256, 'x').c_str(), 4, 0), kResultStringTooLong);
  calls = recording_host::Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[2].kind, HostCall::kAllocate);
  EXPECT_EQ(calls[3].kind, HostCall::kDiscard);
  EXPECT_EQ(calls[3].block, calls[2].block);
  EXPECT_EQ(calls[3].hostConnectionId, 7u);
  EXPECT_EQ(calls[3].connectionId, id);
  uint32_t sendId = 0;
  ASSERT_EQ(SimConnect_GetLastSentPacketID(a.handle(), &sendId), S_OK);
  EXPECT_EQ(sendId, 3u);

  // Several requests reserved before one flush are submitted in their order.
  recording_host::Reset();
  uint8_t* first = nullptr;
  uint8_t* second = nullptr;
  ASSERT_EQ(ReserveRequest(a.client(), 24, &first), kClientOk);
  ASSERT_EQ(ReserveRequest(a.client(), 20, &second), kClientOk);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  wire::StoreU32(first, 24);
  wire::StoreU32(second, 20);
  EXPECT_EQ(FlushRequests(a.client()), 1u) << "nothing went through the send buffer";
  std::vector<HostCall> submits = recording_host::CallsOf(HostCall::kSubmit);
  ASSERT_EQ(submits.size(), 2u);
  EXPECT_EQ(submits[0].block, first);
  EXPECT_EQ(submits[0].size, 24u);
  EXPECT_EQ(U32At(submits[0].bytes, 12), 4u);
  EXPECT_EQ(submits[1].block, second);
  EXPECT_EQ(submits[1].size, 20u);
  EXPECT_EQ(U32At(submits[1].bytes, 12), 5u);

  // A host that lends nothing: the request is built in the send buffer and
  // written to the pipe, numbered in the same sequence.
  recording_host::Reset();
  recording_host::SetLending(false);
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(a.handle(), 1, 2), S_OK);
  EXPECT_EQ(a.server().ReadMessage(), Bytes(24).Header(0xF0000034, 6).U32(16, 1).U32(20, 2).vec());
  calls = recording_host::Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].kind, HostCall::kAllocate);
  EXPECT_EQ(calls[0].block, nullptr);

  recording_host::SetLending(true);
  ASSERT_EQ(SimConnect_MenuRemoveSubItem(a.handle(), 1, 3), S_OK);
  submits = recording_host::CallsOf(HostCall::kSubmit);
  ASSERT_EQ(submits.size(), 1u);
  EXPECT_EQ(submits[0].bytes, Bytes(24).Header(0xF0000034, 7).U32(16, 1).U32(20, 3).vec());
  EXPECT_TRUE(a.server().ReadMessage(200).empty()) << "nothing more on the pipe";
}

TEST_F(ClientChannelTest, DeliveredBlocksAreReadInPlaceAndReleasedExactlyOnce) {
  CreateWindowOfThisProcess();
  PipeConnection a;
  OpenAttached(a, true, 7);
  const uint32_t id = a.client()->CurrentConnectionId();
  recording_host::Reset();

  // Blocks for no connection of this process are ignored and never released.
  a.event().Wait(0);  // a notification the open reply may have left
  std::vector<uint8_t> stray = MakeReceived(4, 24);
  deliver_(8, id, 24, stray.data());
  deliver_(7, id + 1, 24, stray.data());
  EXPECT_FALSE(a.event().Wait(100));
  std::vector<uint8_t> got;
  EXPECT_FALSE(a.Next(&got, nullptr, 0));

  std::vector<std::vector<uint8_t>> blocks;
  for (uint32_t i = 0; i < 5; ++i) {
    blocks.push_back(MakeReceived(4, 24));
    wire::StoreU32(blocks.back().data() + 16, 100 + i);
  }
  auto releasedBlocks = [] {
    std::vector<void*> released;
    for (const HostCall& call : recording_host::CallsOf(HostCall::kRelease)) {
      EXPECT_EQ(call.hostConnectionId, 7u);
      released.push_back(call.block);
    }
    return released;
  };

  // GetNextDispatch hands out the host's block itself and gives it back at
  // the following call.
  deliver_(7, id, 24, blocks[0].data());
  EXPECT_TRUE(a.event().IsSet());
  const void* address = nullptr;
  ASSERT_TRUE(a.Next(&got, &address, 0));
  EXPECT_EQ(address, blocks[0].data());
  EXPECT_TRUE(releasedBlocks().empty());
  deliver_(7, id, 24, blocks[1].data());
  ASSERT_TRUE(a.Next(&got, &address, 0));
  EXPECT_EQ(address, blocks[1].data());
  EXPECT_EQ(releasedBlocks(), std::vector<void*>{blocks[0].data()});
  for (const HostCall& call : recording_host::CallsOf(HostCall::kRelease)) EXPECT_EQ(call.connectionId, id);

  // CallDispatch gives each block back right after its callback.
  deliver_(7, id, 24, blocks[2].data());
  deliver_(7, id, 24, blocks[3].data());
  struct Dispatched {
    std::vector<const void*> messages;
    std::vector<size_t> releasedBefore;
  } dispatched;
  ASSERT_EQ(SimConnect_CallDispatch(
                a.handle(),
                [](const void* message, uint32_t, void* context) {
                  auto* d = static_cast<Dispatched*>(context);
                  d->messages.push_back(message);
                  d->releasedBefore.push_back(recording_host::CallsOf(HostCall::kRelease).size());
                },
                &dispatched),
            S_OK);
  EXPECT_EQ(dispatched.messages, (std::vector<const void*>{blocks[2].data(), blocks[3].data()}));
  EXPECT_EQ(dispatched.releasedBefore, (std::vector<size_t>{1, 2}));
  EXPECT_EQ(releasedBlocks(), (std::vector<void*>{blocks[0].data(), blocks[2].data(), blocks[3].data()}));

  // Close gives back the message still current and the one still queued.
  deliver_(7, id, 24, blocks[4].data());
  a.Close();
  std::vector<void*> released = releasedBlocks();
  ASSERT_EQ(released.size(), 5u);
  std::sort(released.begin(), released.end());
  std::vector<void*> expected;
  for (auto& block : blocks) expected.push_back(block.data());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(released, expected) << "each block exactly once, the stray one never";
}

TEST_F(ClientChannelTest, WithoutMemoryADeliveredBlockGoesBackToTheHostAtOnceAndIsNeverFreed) {
  CreateWindowOfThisProcess();
  PipeConnection a;
  OpenAttached(a, true, 7);
  const uint32_t id = a.client()->CurrentConnectionId();
  recording_host::Reset();
  a.event().Wait(0);  // a notification the open reply may have left

  // No memory for the record, then none for the receive queue's node. The
  // blocks are the host's (here a vector's, which would be freed twice).
  std::vector<uint8_t> noRecord = MakeReceived(4, 24);
  std::vector<uint8_t> noNode = MakeReceived(4, 24);
  failing_allocations::FailNext(0, 1);
  deliver_(7, id, 24, noRecord.data());
  failing_allocations::FailNext(1, 1);
  deliver_(7, id, 24, noNode.data());
  std::vector<HostCall> released = recording_host::CallsOf(HostCall::kRelease);
  ASSERT_EQ(released.size(), 2u);
  EXPECT_EQ(released[0].block, noRecord.data());
  EXPECT_EQ(released[1].block, noNode.data());
  for (const HostCall& call : released) {
    EXPECT_EQ(call.hostConnectionId, 7u);
    EXPECT_EQ(call.connectionId, id);
  }
  EXPECT_FALSE(a.event().IsSet()) << "a lost message wakes nobody";
  std::vector<uint8_t> got;
  EXPECT_FALSE(a.Next(&got, nullptr, 0));

  // With memory again the channel goes on; each block went back once.
  std::vector<uint8_t> later = MakeReceived(4, 24);
  deliver_(7, id, 24, later.data());
  const void* address = nullptr;
  ASSERT_TRUE(a.Next(&got, &address, 0));
  EXPECT_EQ(address, later.data());
  a.Close();
  EXPECT_EQ(recording_host::CallsOf(HostCall::kRelease).size(), 3u);
}

TEST_F(ClientChannelTest, ABlockQueuedAfterTheCloseDrainedTheQueueStillGoesBackToTheHost) {
  CreateWindowOfThisProcess();
  PipeConnection a;
  OpenAttached(a, true, 7);
  SimConnectClient* client = a.client();
  const uint32_t id = client->CurrentConnectionId();
  recording_host::Reset();

  // A delivery that found the connection just before the close unlinked it
  // pushes its block after the close drained the queue: the object, kept
  // alive here by a reference of the test, then holds a host block.
  client->AddRef();
  a.Close();
  std::vector<uint8_t> late = MakeReceived(4, 24);
  MessageRecord* record = MessageRecord::Create(late.data(), 24, id, 1);
  ASSERT_NE(record, nullptr);
  client->QueueReceived(record);
  record->Release();
  EXPECT_TRUE(recording_host::CallsOf(HostCall::kRelease).empty());
  client->Release();  // the last reference: the block goes back, it is not freed
  std::vector<HostCall> released = recording_host::CallsOf(HostCall::kRelease);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].block, late.data());
  EXPECT_EQ(released[0].hostConnectionId, 7u);
  EXPECT_EQ(released[0].connectionId, id);
}

TEST_F(ClientChannelTest, ThePumpDispatchesOnlyConnectionsDispatchedBeforeAndTheLastCloseUnregisters) {
  CreateWindowOfThisProcess();
  PipeConnection a;
  PipeConnection b;
  OpenAttached(a, true, 7);
  inprocess::DeliverFn deliver = deliver_;
  OpenAttached(b, false, 8);
  EXPECT_EQ(deliver_, deliver) << "one deliver callback for every connection";
  recording_host::Reset();

  struct Pumped {
    std::vector<const void*> messages;
    std::vector<DWORD> threads;
  } pumped;
  DispatchProc callback = [](const void* message, uint32_t, void* context) {
    auto* p = static_cast<Pumped*>(context);
    p->messages.push_back(message);
    p->threads.push_back(GetCurrentThreadId());
  };
  // A is dispatched once (with nothing queued), B never.
  ASSERT_EQ(SimConnect_CallDispatch(a.handle(), callback, &pumped), S_OK);
  EXPECT_TRUE(pumped.messages.empty());

  std::vector<uint8_t> forA = MakeReceived(4, 24);
  std::vector<uint8_t> forB = MakeReceived(4, 24);
  deliver(7, a.client()->CurrentConnectionId(), 24, forA.data());
  deliver(8, b.client()->CurrentConnectionId(), 24, forB.data());

  // The simulator's call, from its own thread.
  HRESULT pumpResult = S_OK;
  DWORD simulatorThread = 0;
  std::thread simulator([&pumpResult, &simulatorThread] {
    simulatorThread = GetCurrentThreadId();
    pumpResult = SimConnect_CallDispatch(nullptr, reinterpret_cast<DispatchProc>(inprocess::kPumpAllCallback),
                                         reinterpret_cast<void*>(inprocess::kPumpAllContext));
  });
  simulator.join();
  EXPECT_EQ(pumpResult, E_FAIL);
  ASSERT_EQ(pumped.messages, std::vector<const void*>{forA.data()});
  EXPECT_EQ(pumped.threads, std::vector<DWORD>{simulatorThread});
  std::vector<HostCall> released = recording_host::CallsOf(HostCall::kRelease);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].block, forA.data());

  std::vector<uint8_t> got;
  const void* address = nullptr;
  ASSERT_TRUE(b.Next(&got, &address, 0)) << "B's message waited in its queue";
  EXPECT_EQ(address, forB.data());

  // Unregistration comes with the last connection's close, not before.
  a.Close();
  EXPECT_TRUE(recording_host::CallsOf(HostCall::kUnregister).empty());
  b.Close();
  std::vector<HostCall> unregistered = recording_host::CallsOf(HostCall::kUnregister);
  ASSERT_EQ(unregistered.size(), 1u);
  EXPECT_EQ(unregistered[0].block, reinterpret_cast<void*>(&SimConnect_CallDispatch));
  EXPECT_EQ(recording_host::CallsOf(HostCall::kRelease).size(), 2u) << "B's block went back at its close";
}

}  // namespace
