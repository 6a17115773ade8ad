// Encoding the messages the server sends: each function returns one whole
// received message, size field first. Plain functions: no OS calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace simhost {

using Message = std::vector<uint8_t>;

// Kind 2, exactly 308 bytes, hostConnectionId (never 0) at offset 300.
Message BuildOpenReply(uint32_t hostConnectionId);
// Kind 1: exception code at 12, the rejected request's SendID at 16, argument index at 20.
Message BuildException(uint32_t exceptionCode, uint32_t sendId, uint32_t argumentIndex);
// Kind 3: the header alone.
Message BuildQuit();
// Kind 4: group id (host_protocol::kNoGroup) at 12, event id at 16, data at 20.
Message BuildEvent(uint32_t eventId, uint32_t data);

// Kinds 8 and 16 share one layout; `data` (n bytes) goes from offset 40 on.
struct DataMessageFields {
  uint32_t requestId;
  uint32_t objectId;       // object data: the object; client data: the subscriber's client-data id
  uint32_t definitionId;
  uint32_t flags;
  uint32_t definitionCount;  // number of datums in the definition
};
Message BuildObjectData(const DataMessageFields& fields, const uint8_t* data, size_t n);
Message BuildClientData(const DataMessageFields& fields, const uint8_t* data, size_t n);

}  // namespace simhost
