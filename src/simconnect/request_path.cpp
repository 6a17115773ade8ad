// The path every request takes: reserve room (numbering it), build it in place,
// flush it to the in-process host or the transport.
#include <cstdlib>
#include <cstring>

#include "simconnect/client.h"
#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"
#include "simconnect/wire.h"

uint32_t SimConnectClient::NextSendId() {
  lastSendId = request_encoding::NextSendId(lastSendId);
  return lastSendId;
}

uint32_t SimConnectClient::LastSendId() const {
  SendLockGuard lock;
  return lastSendId;
}

ClientStatus SimConnectClient::ReserveRequest(uint32_t size, uint8_t** buffer) {
  SendLockGuard lock;
  *buffer = nullptr;
  if (HasFailed()) return ClientStatus::ConnectionFailed;

  // Without a block from the host (no channel, or it lent nothing) the request
  // is built in the send buffer.
  if (uint8_t* block = channel_.Allocate(CurrentConnectionId(), size)) {
    wire::StoreU32(block + protocol::kRequestSendIdOffset, NextSendId());
    *buffer = block;
    return ClientStatus::Ok;
  }

  uint32_t used = static_cast<uint32_t>(sendCursor - sendBuffer);
  if (kSendBufferCapacity - used >= size && size >= protocol::kRequestHeaderSize) {
    *buffer = sendCursor;
    wire::StoreU32(*buffer + protocol::kRequestSendIdOffset, NextSendId());
    sendCursor += size;
  }
  // A request that does not fit leaves the buffer null with result Ok; the
  // request functions then return E_FAIL and write nothing.
  return ClientStatus::Ok;
}

void SimConnectClient::AbandonRequest(uint8_t* buffer, uint32_t size) {
  SendLockGuard lock;
  if (buffer == nullptr || channel_.Discard(CurrentConnectionId(), buffer, size)) return;
  // The abandoned request is always the latest one built in the send buffer.
  sendCursor = buffer;
  std::memset(buffer, 0, size);
}

bool SimConnectClient::FlushRequests() {
  SendLockGuard lock;
  channel_.SubmitPending(CurrentConnectionId());

  uint32_t built = static_cast<uint32_t>(sendCursor - sendBuffer);
  if (built == 0) return false;
  auto* block = static_cast<uint8_t*>(std::malloc(built));
  if (block == nullptr) return false;
  std::memcpy(block, sendBuffer, built);
  MessageRecord* record = MessageRecord::Create(block, built, CurrentConnectionId(), 0);
  if (record == nullptr) {
    // The built bytes stay in the send buffer and go out with the next flush.
    std::free(block);
    return false;
  }
  // The transport takes its own reference when it keeps the record; a record
  // it refuses (not connected) is destroyed by the Release below.
  QueueSend(record);
  sendCursor = sendBuffer;
  std::memset(sendBuffer, 0, built);
  record->Release();
  return true;
}
