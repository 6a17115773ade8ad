// Client side of the in-process channel. When the client runs inside the
// simulator's process, it registers with the simulator's "FS98MAIN" window by
// synchronous WM_COMMAND messages whose lParam points at a small record; once
// the simulator hands over its function table, requests are built in blocks
// the simulator lends and received messages arrive through the deliver callback.
// Every mismatch is silent: the connection then simply stays on its pipe or
// socket.
#include "simconnect/transport/inprocess_channel.h"

#include <cstring>

#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "simconnect/protocol.h"
#include "simconnect/transport/inprocess_records.h"
#include "simconnect/wire.h"

namespace {

namespace offer = inprocess::offer;
namespace small_record = inprocess::small_record;
namespace table = inprocess::table;

uint64_t AddressOf(const void* function) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(function)); }

template <typename Function>
Function FunctionAt(const uint8_t* record, uint32_t offset) {
  return reinterpret_cast<Function>(static_cast<uintptr_t>(wire::LoadU64(record + offset)));
}

void SendRecord(HWND window, uint8_t* record) {
  // The simulator handles the record on its window's thread before this
  // returns; its result is not used.
  SendMessageW(window, inprocess::kWindowMessage, static_cast<WPARAM>(inprocess::kCommandWParam),
               reinterpret_cast<LPARAM>(record));
}

// Called by the simulator with its 48-byte function table (command 2).
// Returns 1 when the table was taken, 0 otherwise.
int AttachCallback(const uint8_t* record) {
  if (record == nullptr || wire::LoadU32(record + inprocess::kSizeField) != table::kSize ||
      wire::LoadU32(record + inprocess::kCommandField) != inprocess::kCommandTable) {
    return 0;
  }
  SimConnectClient* client =
      FindConnection(wire::LoadU32(record + table::kHostConnectionId), wire::LoadU32(record + table::kConnectionId));
  if (client == nullptr) return 0;
  int taken = client->Channel().TakeTable(record) ? 1 : 0;
  client->Release();
  return taken;
}

// Called by the simulator for each message it sends in memory. The block stays
// the simulator's and goes back through its release function once dispatched.
void DeliverCallback(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size, void* block) {
  SimConnectClient* client = FindConnection(hostConnectionId, connectionId);
  if (client == nullptr) return;  // no such connection: the block is not ours to release
  MessageRecord* record = MessageRecord::Create(static_cast<uint8_t*>(block), size, connectionId, 1);
  if (record == nullptr) {
    // No memory for the record: the message is lost, and its block goes back now.
    client->Channel().ReleaseBlock(connectionId, block);
  } else {
    client->QueueReceived(record);  // gives the block back itself when it cannot queue
    record->Release();
  }
  client->Release();
}

}  // namespace

void InProcessChannel::Register() {
  HWND window = FindWindowW(inprocess::kWindowClass, nullptr);
  if (window == nullptr || state_.load() != State::None) return;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId != GetCurrentProcessId()) return;

  std::memset(unregisterRecord_, 0, sizeof unregisterRecord_);
  wire::StoreU32(unregisterRecord_ + inprocess::kSizeField, small_record::kSize);
  wire::StoreU32(unregisterRecord_ + inprocess::kCommandField, inprocess::kCommandUnregister);
  SendRecord(window, unregisterRecord_);
  unregister_ = FunctionAt<inprocess::UnregisterFn>(unregisterRecord_, small_record::kAddress);

  if (LiveConnections() == 1) {
    std::memset(pumpRecord_, 0, sizeof pumpRecord_);
    wire::StoreU32(pumpRecord_ + inprocess::kSizeField, small_record::kSize);
    wire::StoreU32(pumpRecord_ + inprocess::kCommandField, inprocess::kCommandPump);
    wire::StoreU64(pumpRecord_ + small_record::kAddress, AddressOf(reinterpret_cast<const void*>(&SimConnect_CallDispatch)));
    SendRecord(window, pumpRecord_);
  }
  window_ = window;
  state_.store(State::Registered);
}

void InProcessChannel::OnOpenReply(const uint8_t* message, uint32_t size, uint32_t connectionId) {
  if (size != protocol::open_reply::kSize || hostConnectionId_.load() != 0 || state_.load() != State::Registered) {
    return;
  }
  if (wire::LoadU32(message + protocol::kReceivedKindOffset) != protocol::kKindOpen) return;
  uint32_t hostConnectionId = wire::LoadU32(message + protocol::open_reply::kHostConnectionId);
  if (hostConnectionId == 0) return;
  hostConnectionId_.store(hostConnectionId);
  state_.store(State::OfferSent);

  std::memset(offerRecord_, 0, sizeof offerRecord_);
  wire::StoreU32(offerRecord_ + inprocess::kSizeField, offer::kSize);
  wire::StoreU32(offerRecord_ + inprocess::kCommandField, inprocess::kCommandOffer);
  wire::StoreU32(offerRecord_ + offer::kHostConnectionId, hostConnectionId);
  wire::StoreU32(offerRecord_ + offer::kConnectionId, connectionId);
  wire::StoreU64(offerRecord_ + offer::kAttach, AddressOf(reinterpret_cast<const void*>(&AttachCallback)));
  wire::StoreU64(offerRecord_ + offer::kDeliver, AddressOf(reinterpret_cast<const void*>(&DeliverCallback)));
  SendRecord(window_, offerRecord_);
}

void InProcessChannel::Unregister() {
  if (state_.load() == State::None || LiveConnections() != 1 || unregister_ == nullptr) return;
  unregister_(reinterpret_cast<void*>(&SimConnect_CallDispatch));
}

bool InProcessChannel::TakeTable(const uint8_t* record) {
  // The request path reads the table under sendLock; checking under it too
  // lets only one of two tables offered at once be taken.
  SendLockGuard lock;
  if (Active()) return false;
  allocate_.store(FunctionAt<inprocess::AllocateFn>(record, table::kAllocate));
  discard_.store(FunctionAt<inprocess::DiscardFn>(record, table::kDiscard));
  submit_.store(FunctionAt<inprocess::SubmitFn>(record, table::kSubmit));
  release_.store(FunctionAt<inprocess::ReleaseFn>(record, table::kRelease));
  active_.store(true, std::memory_order_release);
  return true;
}

uint8_t* InProcessChannel::Allocate(uint32_t connectionId, uint32_t size) {
  inprocess::AllocateFn allocate = allocate_.load(std::memory_order_acquire);
  if (!Active() || allocate == nullptr) return nullptr;
  auto* block = static_cast<uint8_t*>(allocate(HostConnectionId(), connectionId, size));
  if (block == nullptr) return nullptr;
  std::memset(block, 0, size);
  pending_.push_back(PendingBlock{block, size});
  return block;
}

bool InProcessChannel::Discard(uint32_t connectionId, uint8_t* block, uint32_t size) {
  if (!Active()) return false;
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if (it->block == block && it->size == size) {
      inprocess::DiscardFn discard = discard_.load(std::memory_order_acquire);
      if (discard != nullptr) discard(HostConnectionId(), connectionId, block);
      pending_.erase(it);
      return true;
    }
  }
  return false;
}

void InProcessChannel::SubmitPending(uint32_t connectionId) {
  if (!Active() || pending_.empty()) return;
  inprocess::SubmitFn submit = submit_.load(std::memory_order_acquire);
  for (const PendingBlock& entry : pending_) {
    if (submit != nullptr) submit(HostConnectionId(), connectionId, entry.size, entry.block);
  }
  pending_.clear();
}

void InProcessChannel::ReleaseBlock(uint32_t connectionId, void* block) const {
  inprocess::ReleaseFn release = release_.load(std::memory_order_acquire);
  if (release != nullptr) release(HostConnectionId(), connectionId, block);
}
