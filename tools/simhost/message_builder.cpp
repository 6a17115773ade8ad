// Encoding the server's received messages through the shared layouts.
#include "message_builder.h"

#include <cstring>

#include "host_protocol.h"
#include "simconnect/protocol.h"
#include "simconnect/wire.h"

namespace simhost {

namespace {

Message WithHeader(uint32_t kind, size_t size) {
  Message message(size, 0);
  wire::StoreU32(message.data() + protocol::kReceivedSizeOffset, static_cast<uint32_t>(size));
  wire::StoreU32(message.data() + protocol::kReceivedVersionOffset, host_protocol::kReceivedVersion);
  wire::StoreU32(message.data() + protocol::kReceivedKindOffset, kind);
  return message;
}

Message BuildData(uint32_t kind, const DataMessageFields& fields, const uint8_t* data, size_t n) {
  namespace f = protocol::data_msg;
  Message message = WithHeader(kind, host_protocol::kDataMessageFixedSize + n);
  uint8_t* m = message.data();
  wire::StoreU32(m + f::kRequestId, fields.requestId);
  wire::StoreU32(m + f::kObjectId, fields.objectId);
  wire::StoreU32(m + f::kDefinitionId, fields.definitionId);
  wire::StoreU32(m + f::kFlags, fields.flags);
  wire::StoreU32(m + f::kEntryNumber, 1);  // one object, one entry
  wire::StoreU32(m + f::kEntryCount, 1);
  wire::StoreU32(m + f::kDefinitionCount, fields.definitionCount);
  if (n != 0) std::memcpy(m + f::kData, data, n);
  return message;
}

}  // namespace

Message BuildOpenReply(uint32_t hostConnectionId) {
  namespace f = host_protocol::open_reply;
  Message message = WithHeader(protocol::kKindOpen, protocol::open_reply::kSize);
  uint8_t* m = message.data();
  wire::StoreFixedString(m + f::kApplicationName, protocol::kStringFieldSize, f::kApplicationNameText);
  wire::StoreU32(m + f::kApplicationVersionMajor, f::kVersionMajor);  // minor, build: 0
  wire::StoreU32(m + f::kSimConnectVersionMajor, f::kVersionMajor);
  wire::StoreU32(m + protocol::open_reply::kHostConnectionId, hostConnectionId);
  return message;
}

Message BuildException(uint32_t exceptionCode, uint32_t sendId, uint32_t argumentIndex) {
  namespace f = protocol::exception_msg;
  Message message = WithHeader(protocol::kKindException, f::kSize);
  wire::StoreU32(message.data() + f::kExceptionCode, exceptionCode);
  wire::StoreU32(message.data() + f::kSendId, sendId);
  wire::StoreU32(message.data() + f::kIndex, argumentIndex);
  return message;
}

Message BuildQuit() { return WithHeader(protocol::kKindQuit, host_protocol::kQuitSize); }

Message BuildEvent(uint32_t eventId, uint32_t data) {
  namespace f = protocol::event_msg;
  Message message = WithHeader(protocol::kKindEvent, f::kSize);
  wire::StoreU32(message.data() + f::kGroupId, host_protocol::kNoGroup);
  wire::StoreU32(message.data() + f::kEventId, eventId);
  wire::StoreU32(message.data() + f::kData, data);
  return message;
}

Message BuildObjectData(const DataMessageFields& fields, const uint8_t* data, size_t n) {
  return BuildData(protocol::kKindObjectData, fields, data, n);
}

Message BuildClientData(const DataMessageFields& fields, const uint8_t* data, size_t n) {
  return BuildData(protocol::kKindClientData, fields, data, n);
}

}  // namespace simhost

namespace host_protocol {

const char* ExceptionName(uint32_t code) {
  switch (code) {
    case kExceptionSizeMismatch: return "size mismatch";
    case kExceptionUnrecognizedId: return "unrecognized id";
    case kExceptionVersionMismatch: return "version mismatch";
    case kExceptionNotOpen: return "not open";
    case kExceptionBadOpen: return "bad open";
    case kExceptionStringNotTerminated: return "string not terminated";
    case kExceptionInvalidArgument: return "invalid argument";
    case kExceptionUnknownDefinition: return "unknown definition";
    case kExceptionUnknownClientData: return "unknown client data";
    default: return "other";
  }
}

}  // namespace host_protocol
