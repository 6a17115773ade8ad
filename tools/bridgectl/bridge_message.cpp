// Decoding the received messages bridgectl acts on. OS-free.
#include "bridge_message.h"

#include "simconnect/protocol.h"
#include "simconnect/wire.h"

namespace bridgectl {

namespace {

// The open reply carries the server's name as a 256-byte text right after the
// header.
constexpr size_t kOpenNameOffset = protocol::kReceivedHeaderSize;
constexpr size_t kOpenNameSize = 256;

BridgeMessage Malformed(uint32_t kind) {
  BridgeMessage out;
  out.kind = MessageKind::kMalformed;
  out.receivedKind = kind;
  return out;
}

}  // namespace

BridgeMessage DecodeMessage(const uint8_t* message, size_t size) {
  if (message == nullptr || size < protocol::kReceivedHeaderSize) return Malformed(0);
  const uint32_t kind = wire::LoadU32(message + protocol::kReceivedKindOffset);
  BridgeMessage out;
  out.receivedKind = kind;

  switch (kind) {
    case protocol::kKindException:
      if (size < protocol::exception_msg::kSize) return Malformed(kind);
      out.kind = MessageKind::kException;
      out.exception = wire::LoadU32(message + protocol::exception_msg::kExceptionCode);
      out.sendId = wire::LoadU32(message + protocol::exception_msg::kSendId);
      out.argumentIndex = wire::LoadU32(message + protocol::exception_msg::kIndex);
      return out;
    case protocol::kKindOpen:
      out.kind = MessageKind::kOpen;
      if (size >= kOpenNameOffset + kOpenNameSize) {
        const uint8_t* name = message + kOpenNameOffset;
        out.serverName.assign(reinterpret_cast<const char*>(name),
                              wire::FixedStringLength(name, kOpenNameSize - 1));
      }
      return out;
    case protocol::kKindQuit:
      out.kind = MessageKind::kQuit;
      return out;
    case protocol::kKindClientData:
      break;
    default:
      return out;
  }

  if (size < protocol::data_msg::kData) return Malformed(kind);
  const uint32_t requestId = wire::LoadU32(message + protocol::data_msg::kRequestId);
  const uint8_t* data = message + protocol::data_msg::kData;
  const size_t dataSize = size - protocol::data_msg::kData;
  switch (requestId) {
    case kVarDataRequestId:
      if (!records::DecodeVarData(data, dataSize, &out.varData)) return Malformed(kind);
      out.kind = MessageKind::kVarData;
      return out;
    case kVarDumpRequestId:
      if (!records::DecodeVarDump(data, dataSize, &out.varDump)) return Malformed(kind);
      out.kind = MessageKind::kVarDump;
      return out;
    case kHostEventRequestId:
      if (!records::DecodeHostEvent(data, dataSize, &out.hostEvent)) return Malformed(kind);
      out.kind = MessageKind::kHostEvent;
      return out;
    default:
      return out;
  }
}

}  // namespace bridgectl
