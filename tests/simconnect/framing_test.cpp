// Cutting a received byte stream into size-prefixed messages, fed as the read
// loop feeds it. The fuzz target checks the buffer's invariants, zero runs and
// that nothing is read past the received bytes, on arbitrary streams.
#include "simconnect/transport/framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using namespace framing;
using Bytes = std::vector<uint8_t>;

// `size` bytes: the little-endian size, then nonzero bytes from `seed`.
Bytes Message(uint32_t size, uint8_t seed) {
  Bytes m(size);
  for (uint32_t i = 0; i < size; ++i) m[i] = static_cast<uint8_t>(i < 4 ? size >> (8 * i) : 1 + (seed * 31 + i) % 251);
  return m;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The read loop of one connection, without the OS.
struct Cutter {
  explicit Cutter(uint32_t limit = kDefaultMaxReceiveSize) : limit(limit) { EXPECT_TRUE(InitReceiveBuffer(buffer)); }
  ~Cutter() { FreeReceiveBuffer(buffer); FreeMessage(holder); }

  // Feeds `bytes` in reads of at most `chunk` bytes; returns the first code
  // that ends a connection, or ExtractResult::NeedMore.
  ExtractResult Feed(const Bytes& bytes, size_t chunk) {
    for (size_t done = 0; done < bytes.size();) {
      size_t n = std::min<size_t>({chunk, bytes.size() - done, FreeSpaceLength(buffer)});
      if (n == 0) return ExtractResult::BufferFull;  // the read loop was left without room
      std::memcpy(FreeSpace(buffer), bytes.data() + done, n);
      buffer.writePos += static_cast<uint32_t>(n);
      done += n;
      ExtractResult code;
      while ((code = ExtractMessage(buffer, holder, limit)) == ExtractResult::Message) {
        EXPECT_EQ(holder.size, holder.capacity);  // what a receiver that takes the block relies on
        messages.emplace_back(holder.data, holder.data + holder.size);
        FreeMessage(holder);
      }
      if (code != ExtractResult::NeedMore) return code;
    }
    return ExtractResult::NeedMore;
  }

  uint32_t limit;
  ReceiveBuffer buffer;
  ReceivedMessage holder;
  std::vector<Bytes> messages;
};

TEST(Framing, AnySplitOfTheStreamGivesTheSameMessages) {
  const Bytes a = Message(4, 1), b = Message(300, 2), c = Message(2047, 3), d = Message(2049, 4), e = Message(12, 5);
  const Bytes stream = Concat({a, b, c, d, e});
  for (size_t chunk : {stream.size(), size_t{1}, size_t{7}, size_t{2048}}) {
    Cutter cutter;
    EXPECT_EQ(cutter.Feed(stream, chunk), ExtractResult::NeedMore) << chunk;
    EXPECT_EQ(cutter.messages, (std::vector<Bytes>{a, b, c, d, e})) << "reads of " << chunk;
    EXPECT_EQ(cutter.buffer.capacity, 4096u) << "grown by one step, for the message of 2049 bytes";
  }
}

TEST(Framing, SizeLimitsCeilingAndMalformedSizes) {
  // Exactly the limit is one message; one byte more is refused as soon as its
  // size field is complete, after the messages before it were handed over.
  const Bytes good = Message(16, 1), largest = Message(41088, 4);
  Cutter atLimit;
  EXPECT_EQ(atLimit.Feed(Concat({good, largest, Message(41089, 5)}), 4096), ExtractResult::TooLarge);
  EXPECT_EQ(atLimit.messages, (std::vector<Bytes>{good, largest}));
  // A size of 3 cannot hold its own size field (4 can: message a above).
  Cutter malformed;
  EXPECT_EQ(malformed.Feed(Concat({good, Bytes{3, 0, 0, 0, 0xAA}}), 64), ExtractResult::Malformed);
  EXPECT_EQ(malformed.messages, std::vector<Bytes>{good});
  // The ceiling: a message of exactly 1 MiB fills the largest buffer; one byte
  // more is refused before the buffer grows or a holder is allocated, also
  // for a 3 GiB size field under the highest limit a configuration can set.
  Cutter fits(2 * 1048576);
  const Bytes atCeiling = Message(1048576, 6);
  EXPECT_EQ(fits.Feed(atCeiling, atCeiling.size()), ExtractResult::NeedMore);
  EXPECT_TRUE(fits.messages == std::vector<Bytes>{atCeiling});
  for (const Bytes& beyond : {Message(1048577, 7), Bytes{0x00, 0x00, 0x00, 0xC0}}) {
    Cutter over(0xFFFFFFFFu);
    EXPECT_EQ(over.Feed(beyond, beyond.size()), ExtractResult::BufferFull);
    EXPECT_EQ(over.holder.data, nullptr) << "nothing allocated for it";
  }
}

}  // namespace
