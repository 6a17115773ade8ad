// The received SimConnect messages that bridgectl acts on, decoded from their
// bytes with every field read only after the size has been checked: the three
// record areas the bridge writes, exceptions, the open reply and quit. OS-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "lvar/records.h"

namespace bridgectl {

// Request ids of bridgectl's subscriptions to the areas the bridge writes.
// They are this client's own numbers and come back in every client-data
// message of the subscription.
constexpr uint32_t kVarDataRequestId = records::kAppVarDataRequestId;
constexpr uint32_t kVarDumpRequestId = records::kAppVarDumpRequestId;
constexpr uint32_t kHostEventRequestId = records::kAppHostEventRequestId;

enum class MessageKind {
  kVarData,    // varData holds the record
  kVarDump,    // varDump holds the record
  kHostEvent,  // hostEvent holds the record
  kException,  // the server rejected a request: exception, sendId, argumentIndex
  kOpen,       // the server's answer to Open: serverName
  kQuit,       // the server is shutting down
  kOther,      // anything else (other kinds, other request ids)
  kMalformed,  // too short for its kind
};

struct BridgeMessage {
  MessageKind kind = MessageKind::kOther;
  uint32_t receivedKind = 0;  // the header's kind
  records::VarData varData{};
  records::VarDump varDump{};
  records::HostEvent hostEvent{};
  uint32_t exception = 0;
  uint32_t sendId = 0;
  uint32_t argumentIndex = 0;
  std::string serverName;
};

// Decodes one received message of `size` bytes.
BridgeMessage DecodeMessage(const uint8_t* message, size_t size);

}  // namespace bridgectl
