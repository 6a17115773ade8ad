// Bounds-checked reads of received messages (see received_fields.h).
#include "bridge/received_fields.h"

#include "simconnect/protocol.h"
#include "simconnect/wire.h"

namespace received_fields {
namespace {

constexpr uint32_t kExceptionMinimum = protocol::exception_msg::kIndex + 4;  // 24
constexpr uint32_t kEventMinimum = protocol::event_msg::kEventId + 4;       // 20
constexpr uint32_t kDataMinimum = protocol::data_msg::kData;                // 40
constexpr uint32_t kHostRequestMinimum = protocol::data_msg::kData + records::kHostRequestSize;  // 316

}  // namespace

uint32_t MinimumSize(uint32_t kind) {
  switch (kind) {
    case protocol::kKindException:
      return kExceptionMinimum;
    case protocol::kKindEvent:
      return kEventMinimum;
    case protocol::kKindObjectData:
    case protocol::kKindClientData:
      return kDataMinimum;
    default:
      return protocol::kReceivedHeaderSize;
  }
}

Route RouteOf(const uint8_t* message, size_t size, uint32_t* kind) {
  if (!ReadKind(message, size, kind)) return Route::kNoHeader;
  if (size < MinimumSize(*kind)) return Route::kTooShort;
  switch (*kind) {
    case protocol::kKindException:
      return Route::kException;
    case protocol::kKindOpen:
      return Route::kOpen;
    case protocol::kKindEvent:
      return Route::kEvent;
    case protocol::kKindObjectData:
      return Route::kObjectData;
    case protocol::kKindClientData:
      return Route::kClientData;
    default:
      return Route::kOtherKind;
  }
}

bool ReadKind(const uint8_t* message, size_t size, uint32_t* kind) {
  if (message == nullptr || size < protocol::kReceivedHeaderSize) return false;
  *kind = wire::LoadU32(message + protocol::kReceivedKindOffset);
  return true;
}

bool ReadHeaderSize(const uint8_t* message, size_t size, uint32_t* headerSize) {
  if (message == nullptr || size < protocol::kReceivedHeaderSize) return false;
  *headerSize = wire::LoadU32(message + protocol::kReceivedSizeOffset);
  return true;
}

bool ReadException(const uint8_t* message, size_t size, ExceptionFields* out) {
  if (message == nullptr || size < kExceptionMinimum) return false;
  out->exception = wire::LoadU32(message + protocol::exception_msg::kExceptionCode);
  out->sendId = wire::LoadU32(message + protocol::exception_msg::kSendId);
  out->index = wire::LoadU32(message + protocol::exception_msg::kIndex);
  return true;
}

bool ReadEventId(const uint8_t* message, size_t size, uint32_t* eventId) {
  if (message == nullptr || size < kEventMinimum) return false;
  *eventId = wire::LoadU32(message + protocol::event_msg::kEventId);
  return true;
}

bool ReadRequestId(const uint8_t* message, size_t size, uint32_t* requestId) {
  if (message == nullptr || size < kDataMinimum) return false;
  *requestId = wire::LoadU32(message + protocol::data_msg::kRequestId);
  return true;
}

bool ReadHostRequest(const uint8_t* message, size_t size, records::HostRequest* out) {
  if (message == nullptr || size < kHostRequestMinimum) return false;
  return records::DecodeHostRequest(message + protocol::data_msg::kData, size - protocol::data_msg::kData, out);
}

}  // namespace received_fields
