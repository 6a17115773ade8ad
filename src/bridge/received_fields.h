// The fields the bridge reads out of received SimConnect messages, each read
// only after the message's size has been checked to hold it. Plain functions
// over bytes: no OS calls, so the same code builds natively for fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lvar/records.h"

namespace received_fields {

// Least size of a message of `kind` before the bridge reads any of its fields:
//   exception (1)    24: code at 12, SendID at 16, argument index at 20
//   event (4)        20: event id at 16
//   object data (8)  40: request id at 12, the data from 40 on
//   client data (16) 40: request id at 12, the data from 40 on (every one is
//                    a heartbeat; only request id 10000 needs a whole
//                    HostRequest, see ReadHostRequest)
// Every other kind: the 12-byte header.
uint32_t MinimumSize(uint32_t kind);

// Where the dispatch sends a received message.
enum class Route {
  kNoHeader,    // below the 12-byte header: dropped, with its size logged
  kTooShort,    // below MinimumSize(kind): dropped, with kind and size logged
  kException,   // kind 1: logged
  kOpen,        // kind 2: nothing to do
  kEvent,       // kind 4: the menu
  kObjectData,  // kind 8: the aircraft title
  kClientData,  // kind 16: the application's requests
  kOtherKind,   // any other kind: logged
};
// The route of a message of `size` bytes; `kind` receives the header's kind
// whenever the message holds a header.
Route RouteOf(const uint8_t* message, size_t size, uint32_t* kind);

// The `kind` of the header; false when size is below the 12-byte header.
bool ReadKind(const uint8_t* message, size_t size, uint32_t* kind);

// The header's own `size` field; false when size is below the header.
bool ReadHeaderSize(const uint8_t* message, size_t size, uint32_t* headerSize);

struct ExceptionFields {
  uint32_t exception;
  uint32_t sendId;
  uint32_t index;
};
// Kind 1. False when the message is too short.
bool ReadException(const uint8_t* message, size_t size, ExceptionFields* out);

// Kind 4: the event id. False when the message is too short.
bool ReadEventId(const uint8_t* message, size_t size, uint32_t* eventId);

// Kinds 8 and 16: the request id. False when the message is too short for the
// 40 bytes before the data.
bool ReadRequestId(const uint8_t* message, size_t size, uint32_t* requestId);

// Kind 16: the HostRequest at offset 40, its name NUL-terminated (cut at 255
// characters when the record holds no NUL). False when the message is too
// short to hold the whole record.
bool ReadHostRequest(const uint8_t* message, size_t size, records::HostRequest* out);

}  // namespace received_fields
