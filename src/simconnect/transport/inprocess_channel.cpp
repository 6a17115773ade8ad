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
  int taken = 0;
  {
    // The request path reads the table under sendLock; checking under it too
    // lets only one of two tables offered at once be taken.
    SendLockGuard lock;
    if (!client->channelActive.load(std::memory_order_acquire)) {
      client->hostAllocate.store(FunctionAt<HostAllocateFn>(record, table::kAllocate));
      client->hostDiscard.store(FunctionAt<HostDiscardFn>(record, table::kDiscard));
      client->hostSubmit.store(FunctionAt<HostSubmitFn>(record, table::kSubmit));
      client->hostRelease.store(FunctionAt<HostReleaseFn>(record, table::kRelease));
      client->channelActive.store(true, std::memory_order_release);
      taken = 1;
    }
  }
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
    client->ReleaseHostBlock(connectionId, block);
  } else {
    client->QueueReceived(record);  // gives the block back itself when it cannot queue
    record->Release();
  }
  client->Release();
}

}  // namespace

void InProcessCheck(SimConnectClient* client) {
  HWND window = FindWindowW(inprocess::kWindowClass, nullptr);
  if (window == nullptr || client->channelState.load() != 0) return;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId != GetCurrentProcessId()) return;

  std::memset(client->unregisterRecord, 0, sizeof client->unregisterRecord);
  wire::StoreU32(client->unregisterRecord + inprocess::kSizeField, small_record::kSize);
  wire::StoreU32(client->unregisterRecord + inprocess::kCommandField, inprocess::kCommandUnregister);
  SendRecord(window, client->unregisterRecord);
  client->hostUnregister = FunctionAt<HostUnregisterFn>(client->unregisterRecord, small_record::kAddress);

  if (LiveConnections() == 1) {
    std::memset(client->pumpRecord, 0, sizeof client->pumpRecord);
    wire::StoreU32(client->pumpRecord + inprocess::kSizeField, small_record::kSize);
    wire::StoreU32(client->pumpRecord + inprocess::kCommandField, inprocess::kCommandPump);
    wire::StoreU64(client->pumpRecord + small_record::kAddress, AddressOf(reinterpret_cast<const void*>(&SimConnect_CallDispatch)));
    SendRecord(window, client->pumpRecord);
  }
  client->simulatorWindow = window;
  client->channelState.store(1);
}

void InProcessOpenReply(SimConnectClient* client, const uint8_t* message, uint32_t size) {
  if (size != protocol::open_reply::kSize || client->hostConnectionId.load() != 0 || client->channelState.load() != 1) {
    return;
  }
  if (wire::LoadU32(message + protocol::kReceivedKindOffset) != protocol::kKindOpen) return;
  uint32_t hostConnectionId = wire::LoadU32(message + protocol::open_reply::kHostConnectionId);
  if (hostConnectionId == 0) return;
  client->hostConnectionId.store(hostConnectionId);
  client->channelState.store(2);

  std::memset(client->offerRecord, 0, sizeof client->offerRecord);
  wire::StoreU32(client->offerRecord + inprocess::kSizeField, offer::kSize);
  wire::StoreU32(client->offerRecord + inprocess::kCommandField, inprocess::kCommandOffer);
  wire::StoreU32(client->offerRecord + offer::kHostConnectionId, hostConnectionId);
  wire::StoreU32(client->offerRecord + offer::kConnectionId, client->CurrentConnectionId());
  wire::StoreU64(client->offerRecord + offer::kAttach, AddressOf(reinterpret_cast<const void*>(&AttachCallback)));
  wire::StoreU64(client->offerRecord + offer::kDeliver, AddressOf(reinterpret_cast<const void*>(&DeliverCallback)));
  SendRecord(client->simulatorWindow, client->offerRecord);
}

void InProcessUnregister(SimConnectClient* client) {
  if (client->channelState.load() == 0 || LiveConnections() != 1 || client->hostUnregister == nullptr) return;
  client->hostUnregister(reinterpret_cast<void*>(&SimConnect_CallDispatch));
}
