// Cutting the received byte stream into size-prefixed messages.
// Each message starts with its total length as a little-endian u32; messages
// follow one another without gaps, and zero bytes where a size is expected are
// skipped. Plain functions over a byte buffer: no OS calls.
#pragma once

#include <cstdint>

namespace framing {

constexpr uint32_t kReceiveBufferStep = 2048;        // initial capacity and growth step
constexpr uint32_t kReceiveBufferCeiling = 1048576;  // not grown once it has reached this
constexpr uint32_t kDefaultMaxReceiveSize = 41088;

// Received bytes not yet cut into messages.
// 0 <= readPos <= writePos <= capacity; both positions go back to 0 when they meet.
struct ReceiveBuffer {
  uint8_t* start = nullptr;
  uint32_t capacity = 0;
  uint32_t writePos = 0;  // end of the bytes received
  uint32_t readPos = 0;   // first byte not yet cut
};

// Holder of the message being cut. Owns `data` (malloc'd); capacity is its length.
struct ReceivedMessage {
  uint32_t size = 0;
  uint32_t capacity = 0;
  uint8_t* data = nullptr;
};

enum class ExtractResult : uint32_t {
  Message = 0,     // a whole message is in the holder (size == capacity == its length)
  NeedMore = 1,    // more bytes are needed
  TooLarge = 2,    // a size field above maxReceiveSize
  Malformed = 3,   // a size field of 1, 2 or 3
  NoMemory = 4,    // no memory for the message buffer; nothing consumed
  BufferFull = 5,  // a message would need a receive buffer above the ceiling
};

// Allocates the initial 2048-byte buffer; false when out of memory.
bool InitReceiveBuffer(ReceiveBuffer& buffer);
void FreeReceiveBuffer(ReceiveBuffer& buffer);
void FreeMessage(ReceivedMessage& message);

// Free space at the end of the buffer, where the next read goes.
inline uint8_t* FreeSpace(const ReceiveBuffer& buffer) { return buffer.start + buffer.writePos; }
inline uint32_t FreeSpaceLength(const ReceiveBuffer& buffer) { return buffer.capacity - buffer.writePos; }

// Cuts the next message out of `buffer` into `message`, compacting or growing the
// buffer when it is full. Runs of zero bytes are skipped without producing a
// message. Never reads outside [start, start + writePos).
ExtractResult ExtractMessage(ReceiveBuffer& buffer, ReceivedMessage& message, uint32_t maxReceiveSize);

}  // namespace framing
