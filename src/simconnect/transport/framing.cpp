// Cutting the received byte stream into size-prefixed messages.
#include "simconnect/transport/framing.h"

#include <cstdlib>
#include <cstring>

#include "simconnect/wire.h"

namespace framing {

bool InitReceiveBuffer(ReceiveBuffer& buffer) {
  buffer.start = static_cast<uint8_t*>(std::malloc(kReceiveBufferStep));
  buffer.capacity = buffer.start ? kReceiveBufferStep : 0;
  buffer.writePos = 0;
  buffer.readPos = 0;
  return buffer.start != nullptr;
}

void FreeReceiveBuffer(ReceiveBuffer& buffer) {
  std::free(buffer.start);
  buffer = ReceiveBuffer{};
}

void FreeMessage(ReceivedMessage& message) {
  std::free(message.data);
  message = ReceivedMessage{};
}

namespace {

// Makes room in a buffer that is filled to its end: moves the unread bytes to
// the front, or, when one unfinished message fills all of it, grows it by one
// step. Returns `code` unchanged when room was made.
ExtractResult MakeRoom(ReceiveBuffer& buffer, ExtractResult code) {
  if (buffer.readPos > 0) {
    uint32_t remaining = buffer.writePos - buffer.readPos;
    std::memmove(buffer.start, buffer.start + buffer.readPos, remaining);
    buffer.readPos = 0;
    buffer.writePos = remaining;
    return code;
  }
  // The message at the front needs more than the whole buffer. At the ceiling
  // the connection cannot go on: the caller ends it.
  if (buffer.capacity >= kReceiveBufferCeiling) return ExtractResult::BufferFull;
  uint32_t grown = buffer.capacity + kReceiveBufferStep;
  uint8_t* larger = static_cast<uint8_t*>(std::malloc(grown));
  // Without a larger buffer the next read would have no room at all, so a
  // failed growth ends the connection like a failed message buffer.
  if (!larger) return ExtractResult::NoMemory;
  std::memcpy(larger, buffer.start, buffer.writePos);
  std::free(buffer.start);
  buffer.start = larger;
  buffer.capacity = grown;
  return code;
}

}  // namespace

ExtractResult ExtractMessage(ReceiveBuffer& buffer, ReceivedMessage& message, uint32_t maxReceiveSize) {
  for (;;) {
    ExtractResult code = ExtractResult::NeedMore;
    uint32_t available = buffer.writePos - buffer.readPos;
    if (available >= 4) {
      uint32_t size = wire::LoadU32(buffer.start + buffer.readPos);
      if (size > maxReceiveSize) return ExtractResult::TooLarge;
      if (size == 0) {
        // Zero bytes where a size is expected: skip the whole run and go on
        // cutting from the byte after it. A run hands nothing over.
        ++buffer.readPos;
        while (buffer.readPos < buffer.writePos && buffer.start[buffer.readPos] == 0) ++buffer.readPos;
        if (buffer.readPos == buffer.writePos) buffer.readPos = buffer.writePos = 0;
        continue;
      }
      if (size < 4) return ExtractResult::Malformed;
      // A message longer than the largest receive buffer can never be
      // completed: end here, before its holder would be allocated (a limit
      // raised by the configuration could otherwise allocate gigabytes).
      if (size > kReceiveBufferCeiling) return ExtractResult::BufferFull;
      // The holder always ends up with a buffer of exactly the message's length,
      // so a receiver that takes the buffer can take the length from capacity.
      // A buffer of the same length left in the holder is reused.
      if (size != message.capacity) {
        std::free(message.data);
        message.data = static_cast<uint8_t*>(std::malloc(size));
        message.capacity = message.data ? size : 0;
      }
      message.size = size;
      // No memory: nothing is consumed; the caller ends the connection.
      if (!message.data) return ExtractResult::NoMemory;
      if (available >= size) {
        std::memcpy(message.data, buffer.start + buffer.readPos, size);
        buffer.readPos += size;
        if (buffer.readPos == buffer.writePos) buffer.readPos = buffer.writePos = 0;
        code = ExtractResult::Message;
        // The following message is already complete: hand this one over
        // without touching the buffer.
        uint32_t left = buffer.writePos - buffer.readPos;
        if (left >= 4 && wire::LoadU32(buffer.start + buffer.readPos) <= left) return code;
      }
    }
    // Compaction and growth happen only when the buffer is filled to its end,
    // so that the free end where the next read goes is never empty.
    if (buffer.writePos < buffer.capacity) return code;
    return MakeRoom(buffer, code);
  }
}

}  // namespace framing
