// The path every request takes: reserve room (numbering it), build it in place,
// flush it to the in-process host or the transport.
#include <cstdlib>
#include <cstring>

#include "simconnect/client.h"
#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"
#include "simconnect/wire.h"

namespace {

// Numbers the next request of `client`. Call with sendLock held.
uint32_t NextSendId(SimConnectClient* client) {
  client->lastSendId = request_encoding::NextSendId(client->lastSendId);
  return client->lastSendId;
}

}  // namespace

uint32_t ReserveRequest(SimConnectClient* client, uint32_t size, uint8_t** buffer) {
  SendLockGuard lock;
  *buffer = nullptr;
  if (client == nullptr) return kClientUnusable;
  if (client->HasFailed()) return kClientConnectionFailed;

  HostAllocateFn allocate = client->hostAllocate.load(std::memory_order_acquire);
  if (client->channelActive.load(std::memory_order_acquire) && allocate != nullptr) {
    auto* block = static_cast<uint8_t*>(allocate(client->hostConnectionId.load(), client->CurrentConnectionId(), size));
    if (block != nullptr) {
      std::memset(block, 0, size);
      wire::StoreU32(block + protocol::kRequestSendIdOffset, NextSendId(client));
      client->pendingHostBlocks.push_back(PendingHostBlock{block, size});
      *buffer = block;
      return kClientOk;
    }
    // The host lent nothing: build in the send buffer instead.
  }

  uint32_t used = static_cast<uint32_t>(client->sendCursor - client->sendStart);
  if (client->sendCapacity - used >= size && size >= protocol::kRequestHeaderSize) {
    *buffer = client->sendCursor;
    wire::StoreU32(*buffer + protocol::kRequestSendIdOffset, NextSendId(client));
    client->sendCursor += size;
  }
  // A request that does not fit leaves the buffer null with result 0; the
  // request functions then return E_FAIL and write nothing.
  return kClientOk;
}

void AbandonRequest(SimConnectClient* client, uint8_t* buffer, uint32_t size) {
  SendLockGuard lock;
  if (client == nullptr || buffer == nullptr) return;
  if (client->channelActive.load(std::memory_order_acquire)) {
    auto& pending = client->pendingHostBlocks;
    for (auto it = pending.begin(); it != pending.end(); ++it) {
      if (it->block == buffer && it->size == size) {
        HostDiscardFn discard = client->hostDiscard.load(std::memory_order_acquire);
        if (discard != nullptr) discard(client->hostConnectionId.load(), client->CurrentConnectionId(), buffer);
        pending.erase(it);
        return;
      }
    }
  }
  // The abandoned request is always the latest one built in the send buffer.
  client->sendCursor = buffer;
  std::memset(buffer, 0, size);
}

uint32_t FlushRequests(SimConnectClient* client) {
  SendLockGuard lock;
  if (client == nullptr) return 1;

  if (client->channelActive.load(std::memory_order_acquire) && !client->pendingHostBlocks.empty()) {
    HostSubmitFn submit = client->hostSubmit.load(std::memory_order_acquire);
    for (const PendingHostBlock& entry : client->pendingHostBlocks) {
      if (submit != nullptr) submit(client->hostConnectionId.load(), client->CurrentConnectionId(), entry.size, entry.block);
    }
    client->pendingHostBlocks.clear();
  }

  uint32_t built = static_cast<uint32_t>(client->sendCursor - client->sendStart);
  if (built == 0) return 1;
  auto* block = static_cast<uint8_t*>(std::malloc(built));
  if (block == nullptr) return 1;
  std::memcpy(block, client->sendStart, built);
  MessageRecord* record = MessageRecord::Create(block, built, client->CurrentConnectionId(), 0);
  if (record == nullptr) {
    // The built bytes stay in the send buffer and go out with the next flush.
    std::free(block);
    return 1;
  }
  // The transport takes its own reference when it keeps the record; a record
  // it refuses (not connected) is destroyed by the Release below.
  client->QueueSend(record);
  client->sendCursor = client->sendStart;
  std::memset(client->sendStart, 0, built);
  record->Release();
  return 0;
}
