// Checking one complete request message against its layout: the header, the
// size that the request's id requires, terminated text fields and the Open
// message's fixed values. The handlers then read the fields at the offsets of
// simconnect/protocol.h through RequestFields. Plain functions over bytes: no
// OS calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "simconnect/protocol.h"
#include "simconnect/wire.h"

namespace simhost {

struct DecodeResult {
  // host_protocol::kExceptionNone when the request fits its layout; otherwise
  // the exception code that rejects it and the index of the argument at fault.
  uint32_t exceptionCode = 0;
  uint32_t argumentIndex = 0;
  uint32_t id = 0;      // header fields, set whenever size >= 16
  uint32_t sendId = 0;

  bool ok() const { return exceptionCode == 0; }
};

// Checks the `size` bytes at `message`, which hold exactly one request (its
// size field is expected to equal `size`). Never reads outside
// [message, message + size). Rejections, in the order they are checked:
//   size below 16 or size field != size        -> kExceptionSizeMismatch, 0
//   version other than 37                       -> kExceptionVersionMismatch, 0
//   id not one of the twelve requests           -> kExceptionUnrecognizedId, 0
//   size other than the id's size (fixed part plus the unit size for
//   SetClientData and Text)                     -> kExceptionSizeMismatch, 0
//   a 256-byte text field without NUL           -> kExceptionStringNotTerminated,
//                                                  the field's argument index
//   Open with other fixed values than the client sends -> kExceptionBadOpen, 0
DecodeResult DecodeRequest(const uint8_t* message, size_t size);

// The fields of a request that DecodeRequest accepted, read at protocol.h's
// offsets (every offset of the id's layout lies inside the message).
struct RequestFields {
  const uint8_t* message;

  uint32_t U32(uint32_t at) const { return wire::LoadU32(message + at); }
  float F32(uint32_t at) const { return wire::LoadF32(message + at); }
  const uint8_t* At(uint32_t at) const { return message + at; }
  // A 256-byte text field, up to its NUL.
  std::string Text(uint32_t at) const {
    return std::string(reinterpret_cast<const char*>(message + at),
                       wire::FixedStringLength(message + at, protocol::kStringFieldSize));
  }
};

// The request's name for the console ("SetClientData"); "unknown" for other ids.
const char* RequestName(uint32_t id);

}  // namespace simhost
