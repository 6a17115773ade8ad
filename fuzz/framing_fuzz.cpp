// Fuzz target: the stream framing (framing::ExtractMessage), fed the way the
// transport's read loop feeds it: each read lands in the free end of the
// receive buffer, then messages are cut until the framing asks for more bytes or
// ends the connection.
//
// Input layout (every byte counts; a short input simply ends the stream):
//   byte 0, settings:
//     bits 0-1  the size limit: 0 the default (41088); 1 41088 + 64 * u16 that
//               follows; 2 exactly the buffer ceiling; 3 four times the ceiling.
//               Larger limits are left out: the holder gets a buffer of the
//               size field's length as soon as the field is read, so a limit
//               near 4 GiB would only measure the allocator
//     bit 2     the receiver leaves each message in the holder (the base
//               transport, which reuses the buffer) instead of taking it
//     bit 3     a long stream: up to kMaxStream bytes instead of 256 KiB, enough
//               to grow the buffer to its ceiling; only when the environment
//               variable TVO_FUZZ_LONG_STREAMS is set (see below)
//   then operations, each one byte `op` (kind op & 3, argument op >> 2):
//     0  literal: the next argument + 1 bytes go into the stream
//     1  long literal: u16 n, then n bytes
//     2  fill: u16 n and a byte v: (n + 1) << (argument & 7) copies of v
//     3  read size: later reads carry at most argument * (next byte + 1) bytes;
//        argument 0: as much as there is room for
// The bytes of each operation arrive in reads of at most the read size and at
// most the free space of the buffer. The whole stream is capped at 64 KiB past
// the limit (and at 256 KiB or kMaxStream, see bit 3), and at kMaxReads reads.
//
// Checked after every call, against a copy of the whole stream:
//   - 0 <= readPos <= writePos <= capacity; the capacity is a multiple of the
//     growth step, never above the ceiling, and the buffer's allocation is
//     exactly that long; the unread bytes are exactly the stream's next bytes
//     (all compared when few or just moved, else both ends and the middle);
//   - the buffer grows only by one step, only when one unfinished message
//     fills all of it, and without consuming anything;
//   - a handed-over message has size == capacity == its own size field, within
//     [4, limit], in a buffer of exactly that length, and holds exactly the
//     stream's bytes that follow the bytes consumed before it;
//   - whatever else a call consumes is one run of zero bytes (at least four,
//     ending at a nonzero byte or at the end of what was received) before the
//     message;
//   - "need more" leaves no whole message at the read position and room for
//     the next read; every error code matches the size field that caused it.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/fuzz_check.h"
#include "common/input_reader.h"
#include "simconnect/transport/framing.h"

namespace {

using framing::ExtractResult;
using fuzz::Le32;

constexpr size_t kMaxStream = framing::kReceiveBufferCeiling + framing::kReceiveBufferCeiling / 4;
constexpr size_t kShortStream = 256 * 1024;  // the cap without settings bit 3
constexpr size_t kMaxReads = 20000;   // keeps one input's run short
constexpr size_t kSpotCheck = 4096;   // bytes compared at each end and the middle of a long unread run
constexpr size_t kFullCheck = 65536;  // unread bytes compared whole after they were moved

bool AllZero(const uint8_t* bytes, size_t n) {
  static const uint8_t kZeros[4096] = {};
  for (size_t done = 0; done < n; done += sizeof kZeros) {
    size_t k = std::min(n - done, sizeof kZeros);
    if (std::memcmp(bytes + done, kZeros, k) != 0) return false;
  }
  return true;
}

class ReadLoop {
 public:
  ReadLoop(uint32_t limit, bool receiverTakes) : limit_(limit), receiverTakes_(receiverTakes) {
    FUZZ_CHECK(framing::InitReceiveBuffer(buffer_));
    CheckBuffer();
  }
  ~ReadLoop() {
    framing::FreeReceiveBuffer(buffer_);
    framing::FreeMessage(holder_);
  }

  bool Ended() const { return ended_ || reads_ >= kMaxReads; }
  size_t Received() const { return stream_.size(); }
  void SetReadSize(size_t n) { readSize_ = n; }

  // Delivers `n` bytes in reads, cutting after each read.
  void Deliver(const uint8_t* bytes, size_t n) {
    while (n > 0 && !Ended()) {
      ++reads_;
      uint32_t room = framing::FreeSpaceLength(buffer_);
      FUZZ_CHECK(room > 0);  // the read loop always has somewhere to read into
      size_t len = std::min({n, static_cast<size_t>(room), readSize_});
      std::memcpy(framing::FreeSpace(buffer_), bytes, len);
      buffer_.writePos += static_cast<uint32_t>(len);
      stream_.insert(stream_.end(), bytes, bytes + len);
      bytes += len;
      n -= len;
      CutAll();
    }
  }

 private:
  void CutAll() {
    for (;;) {
      ExtractResult code = Cut();
      if (code == framing::kExtractMessage) {
        // The client's receiver takes the buffer with the message; the base
        // transport leaves it in the holder, where the next message reuses it.
        if (receiverTakes_) framing::FreeMessage(holder_);
        continue;
      }
      if (code != framing::kExtractNeedMore) ended_ = true;  // the connection ends
      return;
    }
  }

  ExtractResult Cut() {
    const uint32_t capacityBefore = buffer_.capacity;
    const uint32_t readBefore = buffer_.readPos;
    const uint32_t writeBefore = buffer_.writePos;
    const size_t consumedBefore = consumed_;

    ExtractResult code = framing::ExtractMessage(buffer_, holder_, limit_);

    CheckBuffer();
    const size_t unread = buffer_.writePos - buffer_.readPos;
    consumed_ = stream_.size() - unread;
    FUZZ_CHECK(consumed_ >= consumedBefore);
    const size_t delta = consumed_ - consumedBefore;

    if (buffer_.capacity != capacityBefore) {
      FUZZ_CHECK(buffer_.capacity == capacityBefore + framing::kReceiveBufferStep);
      FUZZ_CHECK(readBefore == 0 && writeBefore == capacityBefore);
      FUZZ_CHECK(delta == 0);
      FUZZ_CHECK(code == framing::kExtractNeedMore);
    }

    size_t messageSize = code == framing::kExtractMessage ? holder_.size : 0;
    FUZZ_CHECK(delta >= messageSize);
    const size_t skipped = delta - messageSize;
    if (skipped > 0) {
      FUZZ_CHECK(skipped >= 4);
      FUZZ_CHECK(AllZero(stream_.data() + consumedBefore, skipped));
      const size_t after = consumedBefore + skipped;
      // The run is skipped whole: it ends at a nonzero byte or where the
      // received bytes end.
      FUZZ_CHECK(after == stream_.size() || stream_[after] != 0);
    }

    const uint8_t* next = buffer_.start + buffer_.readPos;
    switch (code) {
      case framing::kExtractMessage: {
        FUZZ_CHECK(holder_.data != nullptr);
        FUZZ_CHECK(holder_.size == holder_.capacity);
        FUZZ_CHECK(holder_.size >= 4 && holder_.size <= limit_);
        FUZZ_CHECK(__sanitizer_get_allocated_size(holder_.data) == holder_.size);
        FUZZ_CHECK(Le32(holder_.data) == holder_.size);
        FUZZ_CHECK(std::memcmp(holder_.data, stream_.data() + consumedBefore + skipped, holder_.size) == 0);
        break;
      }
      case framing::kExtractNeedMore: {
        if (unread >= 4) {
          uint32_t size = Le32(next);
          FUZZ_CHECK(size >= 4 && size <= limit_ && size > unread);
        }
        FUZZ_CHECK(framing::FreeSpaceLength(buffer_) > 0);
        break;
      }
      case framing::kExtractTooLarge:
        FUZZ_CHECK(unread >= 4 && Le32(next) > limit_);
        break;
      case framing::kExtractMalformed:
        FUZZ_CHECK(unread >= 4 && Le32(next) >= 1 && Le32(next) <= 3);
        break;
      case framing::kExtractBufferFull:
        // Reported as soon as the size field asks for more than the largest
        // receive buffer can hold, whatever the buffer holds now.
        FUZZ_CHECK(unread >= 4);
        FUZZ_CHECK(Le32(next) > framing::kReceiveBufferCeiling && Le32(next) <= limit_);
        break;
      case framing::kExtractNoMemory:
      default:
        // Allocations of at most a few MiB do not fail here.
        FUZZ_CHECK(false);
    }
    return code;
  }

  void CheckBuffer() {
    FUZZ_CHECK(buffer_.start != nullptr);
    FUZZ_CHECK(buffer_.readPos <= buffer_.writePos && buffer_.writePos <= buffer_.capacity);
    FUZZ_CHECK(buffer_.capacity % framing::kReceiveBufferStep == 0);
    FUZZ_CHECK(buffer_.capacity >= framing::kReceiveBufferStep);
    FUZZ_CHECK(buffer_.capacity <= framing::kReceiveBufferCeiling);
    FUZZ_CHECK(__sanitizer_get_allocated_size(buffer_.start) == buffer_.capacity);
    const size_t unread = buffer_.writePos - buffer_.readPos;
    FUZZ_CHECK(unread <= stream_.size());
    // The unread bytes against the stream: all of them when they are few or
    // were just moved (compaction, growth) within a buffer of up to 64 KiB;
    // otherwise both ends and the middle, so that reads of a byte or two into a
    // long message, or the steps of growing towards the ceiling, stay cheap.
    const uint8_t* expected = stream_.data() + (stream_.size() - unread);
    const uint8_t* actual = buffer_.start + buffer_.readPos;
    const bool moved = buffer_.start != checkedStart_ || buffer_.readPos < checkedReadPos_;
    if (unread <= 3 * kSpotCheck || (moved && unread <= kFullCheck)) {
      if (unread > 0) FUZZ_CHECK(std::memcmp(actual, expected, unread) == 0);
    } else {
      const size_t middle = (unread - kSpotCheck) / 2;
      FUZZ_CHECK(std::memcmp(actual, expected, kSpotCheck) == 0);
      FUZZ_CHECK(std::memcmp(actual + middle, expected + middle, kSpotCheck) == 0);
      FUZZ_CHECK(std::memcmp(actual + unread - kSpotCheck, expected + unread - kSpotCheck, kSpotCheck) == 0);
    }
    checkedStart_ = buffer_.start;
    checkedReadPos_ = buffer_.writePos == 0 ? 0 : buffer_.readPos;
    if (holder_.data == nullptr) {
      FUZZ_CHECK(holder_.capacity == 0);
    } else {
      FUZZ_CHECK(__sanitizer_get_allocated_size(holder_.data) == holder_.capacity);
    }
  }

  const uint32_t limit_;
  const bool receiverTakes_;
  framing::ReceiveBuffer buffer_;
  framing::ReceivedMessage holder_;
  std::vector<uint8_t> stream_;  // every byte received so far
  size_t consumed_ = 0;          // of stream_, cut or skipped
  size_t readSize_ = SIZE_MAX;
  size_t reads_ = 0;
  const uint8_t* checkedStart_ = nullptr;  // where the unread bytes were last compared
  uint32_t checkedReadPos_ = 0;
  bool ended_ = false;
};

uint32_t Limit(uint8_t settings, fuzz::InputReader& in) {
  switch (settings & 3) {
    case 0:
      return framing::kDefaultMaxReceiveSize;
    case 1:
      return framing::kDefaultMaxReceiveSize + 64u * in.U16();
    case 2:
      return framing::kReceiveBufferCeiling;
    default:
      return 4 * framing::kReceiveBufferCeiling;
  }
}

}  // namespace

// Growing the buffer to its ceiling copies about 256 MiB in 2048-byte steps,
// a hundred times the cost of any other input; once fuzzing finds such an
// input, its mutations take most of the run. So long streams are allowed only
// when TVO_FUZZ_LONG_STREAMS is set, as the run over the edge inputs does.
namespace {
bool longStreams = false;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  longStreams = std::getenv("TVO_FUZZ_LONG_STREAMS") != nullptr;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InputReader in(data, size);
  const uint8_t settings = in.Byte();
  const uint32_t limit = Limit(settings, in);
  ReadLoop loop(limit, (settings & 4) == 0);

  // Streams much longer than the largest message add nothing but time.
  const size_t longest = (settings & 8) != 0 && longStreams ? kMaxStream : kShortStream;
  const size_t maxStream = std::min(longest, static_cast<size_t>(limit) + 65536);
  std::vector<uint8_t> fill;
  while (!in.Empty() && !loop.Ended() && loop.Received() < maxStream) {
    const uint8_t op = in.Byte();
    const uint32_t argument = op >> 2;
    const size_t room = maxStream - loop.Received();
    switch (op & 3) {
      case 0:
      case 1: {
        size_t wanted = (op & 3) == 0 ? argument + 1 : in.U16();
        size_t taken = 0;
        const uint8_t* bytes = in.Take(std::min(wanted, room), &taken);
        loop.Deliver(bytes, taken);
        break;
      }
      case 2: {
        size_t count = (static_cast<size_t>(in.U16()) + 1) << (argument & 7);
        fill.assign(std::min(count, room), in.Byte());
        loop.Deliver(fill.data(), fill.size());
        break;
      }
      default:
        loop.SetReadSize(argument == 0 ? SIZE_MAX : argument * (static_cast<size_t>(in.Byte()) + 1));
        break;
    }
  }
  return 0;
}
