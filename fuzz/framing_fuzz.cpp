// Fuzz target: the stream framing (framing::ExtractMessage), fed as the
// transport's read loop feeds it: each read lands in the free end of the receive
// buffer, then messages are cut until the framing asks for more or ends it.
//
// Input: byte 0, settings: bits 0-1 the size limit (41088; 41088 + 64 * a u16
// that follows; the buffer ceiling; four times the ceiling); bit 2: the receiver
// leaves each message in the holder (the base transport) instead of taking it;
// bit 3: a stream long enough to grow the buffer to its ceiling (only with
// TVO_FUZZ_LONG_STREAMS set). Then operations, one byte `op` each (kind op & 3,
// argument op >> 2): 0: argument + 1 bytes; 1: a u16 n, then n bytes; 2: a u16
// n and a byte v, (n + 1) << (argument & 7) copies of v; 3: later reads carry
// at most argument * (next byte + 1) bytes (argument 0: as many as fit).
//
// Checked after every call, against a copy of the stream: positions within the
// capacity, the capacity within the ceiling, allocations exactly their capacity,
// the unread bytes the stream's next ones; growth by one step only when one
// unfinished message fills the buffer, consuming nothing; a message is its size
// field long, in [4, limit], and the stream's bytes after what went before; all
// else consumed is whole zero runs of 4 bytes or more; "need more" leaves no
// whole message and room to read; each error code matches its size field.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <vector>

#include "common/fuzz.h"
#include "simconnect/transport/framing.h"

namespace {

using fuzz::Le32;

constexpr size_t kCeiling = framing::kReceiveBufferCeiling;
constexpr size_t kMaxReads = 20000;  // keeps one input's run short
constexpr size_t kSpot = 4096;  // bytes compared at both ends and the middle of long unread runs

// Growing the buffer to its ceiling copies about 256 MiB in 2048-byte steps, a
// hundred times any other input: only the regression entry sets this.
bool longStreams = false;

struct ReadLoop {
  const uint32_t limit;
  const bool receiverTakes;
  framing::ReceiveBuffer buffer;
  framing::ReceivedMessage holder;
  std::vector<uint8_t> stream;  // every byte received so far
  size_t consumed = 0;          // of stream, cut or skipped
  size_t readSize = SIZE_MAX;
  size_t reads = 0;
  bool ended = false;
  const uint8_t* checkedStart = nullptr;  // where the unread bytes were last compared
  uint32_t checkedReadPos = 0;

  ReadLoop(uint32_t limit, bool receiverTakes) : limit(limit), receiverTakes(receiverTakes) {
    FUZZ_CHECK(framing::InitReceiveBuffer(buffer));
  }
  ~ReadLoop() { framing::FreeReceiveBuffer(buffer); framing::FreeMessage(holder); }

  void Deliver(const uint8_t* bytes, size_t n) {
    for (size_t len = 0; n > 0 && !ended && ++reads < kMaxReads; bytes += len, n -= len) {
      FUZZ_CHECK(framing::FreeSpaceLength(buffer) > 0);  // the read loop always has room
      len = std::min({n, size_t{framing::FreeSpaceLength(buffer)}, readSize});
      std::memcpy(framing::FreeSpace(buffer), bytes, len);
      buffer.writePos += static_cast<uint32_t>(len);
      stream.insert(stream.end(), bytes, bytes + len);
      framing::ExtractResult code;
      while ((code = Cut()) == framing::ExtractResult::Message) {
        if (receiverTakes) framing::FreeMessage(holder);  // else the next message reuses the holder
      }
      ended = code != framing::ExtractResult::NeedMore;  // any other code ends the connection
    }
  }

  framing::ExtractResult Cut() {
    const framing::ReceiveBuffer before = buffer;
    const size_t consumedBefore = consumed;
    const framing::ExtractResult code = framing::ExtractMessage(buffer, holder, limit);
    CheckBuffer();
    const size_t unread = buffer.writePos - buffer.readPos;
    consumed = stream.size() - unread;
    FUZZ_CHECK(consumed >= consumedBefore);

    if (buffer.capacity != before.capacity) {
      FUZZ_CHECK(buffer.capacity == before.capacity + framing::kReceiveBufferStep);
      FUZZ_CHECK(before.readPos == 0 && before.writePos == before.capacity);
      FUZZ_CHECK(consumed == consumedBefore && code == framing::ExtractResult::NeedMore);
    }
    const size_t messageSize = code == framing::ExtractResult::Message ? holder.size : 0;
    FUZZ_CHECK(consumed - consumedBefore >= messageSize);
    const size_t skipped = consumed - consumedBefore - messageSize;
    if (skipped > 0) {
      const uint8_t* run = stream.data() + consumedBefore;
      FUZZ_CHECK(skipped >= 4 && std::all_of(run, run + skipped, [](uint8_t b) { return b == 0; }));
      // The whole run: up to a nonzero byte or the end of what was received.
      FUZZ_CHECK(consumedBefore + skipped == stream.size() || run[skipped] != 0);
    }

    const uint32_t field = unread >= 4 ? Le32(buffer.start + buffer.readPos) : 0;
    switch (code) {
      case framing::ExtractResult::Message:
        FUZZ_CHECK(holder.data != nullptr && holder.size == holder.capacity);
        FUZZ_CHECK(holder.size >= 4 && holder.size <= limit && Le32(holder.data) == holder.size);
        FUZZ_CHECK(std::memcmp(holder.data, stream.data() + consumedBefore + skipped, holder.size) == 0);
        break;
      case framing::ExtractResult::NeedMore:
        FUZZ_CHECK(unread < 4 || (field >= 4 && field <= limit && field > unread));
        FUZZ_CHECK(framing::FreeSpaceLength(buffer) > 0);
        break;
      case framing::ExtractResult::TooLarge:
        FUZZ_CHECK(unread >= 4 && field > limit);
        break;
      case framing::ExtractResult::Malformed:
        FUZZ_CHECK(unread >= 4 && field >= 1 && field <= 3);
        break;
      case framing::ExtractResult::BufferFull:
        // As soon as the size field asks for more than the largest buffer holds.
        FUZZ_CHECK(unread >= 4 && field > kCeiling && field <= limit);
        break;
      default:  // ExtractResult::NoMemory: allocations of a few MiB do not fail here
        FUZZ_CHECK(false);
    }
    return code;
  }

  void CheckBuffer() {
    FUZZ_CHECK(buffer.start != nullptr && buffer.capacity <= kCeiling);
    FUZZ_CHECK(buffer.readPos <= buffer.writePos && buffer.writePos <= buffer.capacity);
    FUZZ_CHECK(__sanitizer_get_allocated_size(buffer.start) == buffer.capacity);
    FUZZ_CHECK(holder.data == nullptr ? holder.capacity == 0
                                      : __sanitizer_get_allocated_size(holder.data) == holder.capacity);
    const size_t unread = buffer.writePos - buffer.readPos;
    FUZZ_CHECK(unread <= stream.size());
    if (unread == 0) return;
    // All unread bytes when few, or just moved and within 64 KiB; else both ends
    // and the middle, so that long messages read a byte at a time stay cheap.
    const uint8_t* want = stream.data() + stream.size() - unread;
    const uint8_t* have = buffer.start + buffer.readPos;
    const bool moved = buffer.start != checkedStart || buffer.readPos < checkedReadPos;
    checkedStart = buffer.start;
    checkedReadPos = buffer.readPos;
    if (unread <= 3 * kSpot || (moved && unread <= 65536)) {
      FUZZ_CHECK(std::memcmp(have, want, unread) == 0);
      return;
    }
    for (size_t at : {size_t{0}, (unread - kSpot) / 2, unread - kSpot}) {
      FUZZ_CHECK(std::memcmp(have + at, want + at, kSpot) == 0);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  longStreams = std::getenv("TVO_FUZZ_LONG_STREAMS") != nullptr;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InputReader in(data, size);
  const uint8_t settings = in.Byte();
  uint32_t limit = framing::kDefaultMaxReceiveSize;
  if ((settings & 3) == 1) limit += 64u * in.U16();
  if ((settings & 3) >= 2) limit = static_cast<uint32_t>(kCeiling << ((settings & 3) == 3 ? 2 : 0));
  ReadLoop loop(limit, (settings & 4) == 0);

  const size_t longest = (settings & 8) != 0 && longStreams ? kCeiling + kCeiling / 4 : 256 * 1024;
  const size_t maxStream = std::min(longest, size_t{limit} + 65536);
  std::vector<uint8_t> fill;
  while (!in.Empty() && !loop.ended && loop.reads < kMaxReads && loop.stream.size() < maxStream) {
    const uint8_t op = in.Byte();
    const uint32_t argument = op >> 2;
    const size_t room = maxStream - loop.stream.size();
    if ((op & 3) <= 1) {
      size_t taken = 0;
      const uint8_t* bytes = in.Take(std::min<size_t>((op & 3) == 0 ? argument + 1 : in.U16(), room), &taken);
      loop.Deliver(bytes, taken);
    } else if ((op & 3) == 2) {
      const size_t count = (size_t{in.U16()} + 1) << (argument & 7);
      fill.assign(std::min(count, room), in.Byte());
      loop.Deliver(fill.data(), fill.size());
    } else {
      loop.readSize = argument == 0 ? SIZE_MAX : argument * (size_t{in.Byte()} + 1);
    }
  }
  return 0;
}
