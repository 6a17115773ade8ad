// Cutting a received byte stream into size-prefixed messages: the stream is fed
// the way the transport's read loop feeds it (each read lands in the free end of
// the buffer, then messages are cut until more bytes are needed).
#include "simconnect/transport/framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

using framing::ExtractMessage;
using framing::ExtractResult;
using framing::ReceiveBuffer;
using framing::ReceivedMessage;
using Bytes = std::vector<uint8_t>;

namespace {

// A message of `size` bytes: its little-endian size, then bytes that depend on
// `seed` and the position (never a run of zeros that could pass for padding).
Bytes Message(uint32_t size, uint8_t seed) {
  Bytes m(size);
  for (uint32_t i = 0; i < size; ++i) m[i] = static_cast<uint8_t>(1 + (seed * 31 + i) % 251);
  for (int i = 0; i < 4 && i < static_cast<int>(size); ++i) m[i] = static_cast<uint8_t>(size >> (8 * i));
  return m;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Zeros(size_t n) { return Bytes(n, 0); }

// The read loop of one connection, without the OS.
struct Cutter {
  explicit Cutter(uint32_t limit = framing::kDefaultMaxReceiveSize) : limit(limit) {
    EXPECT_TRUE(framing::InitReceiveBuffer(buffer));
  }
  ~Cutter() {
    framing::FreeReceiveBuffer(buffer);
    framing::FreeMessage(holder);
  }

  // Feeds `bytes` in reads of at most `chunk` bytes. Stops at the first code
  // that ends a connection and returns it; otherwise returns kExtractNeedMore.
  ExtractResult Feed(const Bytes& bytes, size_t chunk) {
    size_t done = 0;
    while (done < bytes.size()) {
      size_t n = std::min<size_t>({chunk, bytes.size() - done, framing::FreeSpaceLength(buffer)});
      EXPECT_GT(n, 0u) << "the read loop was left without room";
      if (n == 0) return framing::kExtractBufferFull;
      std::memcpy(framing::FreeSpace(buffer), bytes.data() + done, n);
      buffer.writePos += static_cast<uint32_t>(n);
      done += n;
      ExtractResult code = CutAll();
      if (code != framing::kExtractNeedMore) return code;
    }
    return framing::kExtractNeedMore;
  }

  ExtractResult CutAll() {
    for (;;) {
      ExtractResult code = ExtractMessage(buffer, holder, limit);
      if (buffer.capacity != capacities.back()) capacities.push_back(buffer.capacity);
      if (code != framing::kExtractMessage) return code;
      // What a receiver is promised: size == capacity == the length in the
      // message's own size field.
      EXPECT_EQ(holder.size, holder.capacity);
      EXPECT_GE(holder.size, 4u);
      uint32_t own = 0;
      std::memcpy(&own, holder.data, 4);
      EXPECT_EQ(own, holder.size);
      messages.emplace_back(holder.data, holder.data + holder.size);
      // The client's receiver takes the buffer; leave the holder empty.
      framing::FreeMessage(holder);
    }
  }

  uint32_t limit;
  ReceiveBuffer buffer;
  ReceivedMessage holder;
  std::vector<Bytes> messages;
  std::vector<uint32_t> capacities{framing::kReceiveBufferStep};
};

TEST(Framing, WholeInputAndOneByteAtATimeGiveTheSameMessages) {
  const std::vector<Bytes> sent = {Message(4, 1),    Message(12, 2),   Message(300, 3), Message(2047, 4),
                                   Message(2048, 5), Message(2049, 6), Message(16, 7),  Message(5000, 8)};
  Bytes stream;
  for (const Bytes& m : sent) stream.insert(stream.end(), m.begin(), m.end());

  Cutter whole;
  EXPECT_EQ(whole.Feed(stream, stream.size()), framing::kExtractNeedMore);
  EXPECT_EQ(whole.messages, sent);
  EXPECT_EQ(whole.buffer.readPos, 0u);
  EXPECT_EQ(whole.buffer.writePos, 0u);

  Cutter bytewise;
  EXPECT_EQ(bytewise.Feed(stream, 1), framing::kExtractNeedMore);
  EXPECT_EQ(bytewise.messages, sent);
  EXPECT_EQ(bytewise.buffer.readPos, 0u);
  EXPECT_EQ(bytewise.buffer.writePos, 0u);

  // Reads of 7 bytes cut size fields and bodies at every possible offset.
  Cutter sevens;
  EXPECT_EQ(sevens.Feed(stream, 7), framing::kExtractNeedMore);
  EXPECT_EQ(sevens.messages, sent);
}

TEST(Framing, TwoMessagesAndTheStartOfAThirdInOneRead) {
  Bytes first = Message(40, 1), second = Message(100, 2), third = Message(60, 3);
  Cutter cutter;
  Bytes read1 = Concat({first, second, Bytes(third.begin(), third.begin() + 4)});
  EXPECT_EQ(cutter.Feed(read1, read1.size()), framing::kExtractNeedMore);
  ASSERT_EQ(cutter.messages.size(), 2u);
  EXPECT_EQ(cutter.messages[0], first);
  EXPECT_EQ(cutter.messages[1], second);
  // The four bytes of the third size stay where they are (the buffer is not
  // full, so nothing moves) and the next read goes after them.
  EXPECT_EQ(cutter.buffer.readPos, 140u);
  EXPECT_EQ(cutter.buffer.writePos, 144u);

  // The holder already got a buffer of the third's length; it stays until the
  // rest arrives.
  EXPECT_EQ(cutter.holder.size, 60u);

  Bytes rest(third.begin() + 4, third.end());
  EXPECT_EQ(cutter.Feed(rest, 10), framing::kExtractNeedMore);
  ASSERT_EQ(cutter.messages.size(), 3u);
  EXPECT_EQ(cutter.messages[2], third);
  EXPECT_EQ(cutter.buffer.writePos, 0u);
}

TEST(Framing, ZeroRunsAreSkippedWithoutHandingAnythingOver) {
  Bytes a = Message(20, 1), b = Message(33, 2), c = Message(8, 3);
  // Runs of 4 and 9 zeros between messages and a run of 6 at the end.
  Bytes stream = Concat({Zeros(4), a, Zeros(9), b, c, Zeros(6)});
  Cutter whole;
  EXPECT_EQ(whole.Feed(stream, stream.size()), framing::kExtractNeedMore);
  EXPECT_EQ(whole.messages, (std::vector<Bytes>{a, b, c}));
  // The trailing run met the write position: both went back to the start.
  EXPECT_EQ(whole.buffer.readPos, 0u);
  EXPECT_EQ(whole.buffer.writePos, 0u);

  // Fed one byte at a time, runs are seen four bytes at a time; runs whose
  // length is a multiple of four are skipped the same way.
  Bytes aligned = Concat({Zeros(8), a, Zeros(4), b, Zeros(12), c});
  Cutter bytewise;
  EXPECT_EQ(bytewise.Feed(aligned, 1), framing::kExtractNeedMore);
  EXPECT_EQ(bytewise.messages, (std::vector<Bytes>{a, b, c}));

  // A run followed by the first bytes of a message: the run goes, the partial
  // message stays.
  Cutter split;
  Bytes part = Concat({Zeros(5), Bytes(a.begin(), a.begin() + 6)});
  EXPECT_EQ(split.Feed(part, part.size()), framing::kExtractNeedMore);
  EXPECT_TRUE(split.messages.empty());
  EXPECT_EQ(split.buffer.writePos - split.buffer.readPos, 6u);
  EXPECT_EQ(split.Feed(Bytes(a.begin() + 6, a.end()), 100), framing::kExtractNeedMore);
  EXPECT_EQ(split.messages, (std::vector<Bytes>{a}));
}

TEST(Framing, OneMessageLongerThanTheBufferGrowsItInSteps) {
  // A little shorter than three steps: a fresh buffer grows twice.
  Bytes big = Message(3 * 2048 - 100, 9);
  Cutter cutter;
  EXPECT_EQ(cutter.Feed(big, big.size()), framing::kExtractNeedMore);
  EXPECT_EQ(cutter.capacities, (std::vector<uint32_t>{2048, 4096, 6144}));
  EXPECT_EQ(cutter.messages, (std::vector<Bytes>{big}));

  // A buffer that is not full never grows, even when the message in it is
  // known to be longer than the buffer.
  Cutter partial;
  EXPECT_EQ(partial.Feed(Bytes(big.begin(), big.begin() + 2000), 2000), framing::kExtractNeedMore);
  EXPECT_EQ(partial.buffer.capacity, 2048u);
  EXPECT_EQ(partial.buffer.writePos, 2000u);
}

TEST(Framing, AFullBufferIsCompactedAndOnlyThen) {
  Bytes first = Message(1000, 1), second = Message(1500, 2);

  // 1000 + 600 bytes: not full, nothing moves.
  Cutter notFull;
  EXPECT_EQ(notFull.Feed(Concat({first, Bytes(second.begin(), second.begin() + 600)}), 2048),
            framing::kExtractNeedMore);
  EXPECT_EQ(notFull.messages.size(), 1u);
  EXPECT_EQ(notFull.buffer.readPos, 1000u);
  EXPECT_EQ(notFull.buffer.writePos, 1600u);

  // 1000 + 1048 bytes: the buffer is full, the unfinished second message moves
  // to the front and the buffer keeps its size.
  Cutter full;
  EXPECT_EQ(full.Feed(Concat({first, Bytes(second.begin(), second.begin() + 1048)}), 2048),
            framing::kExtractNeedMore);
  EXPECT_EQ(full.messages.size(), 1u);
  EXPECT_EQ(full.buffer.readPos, 0u);
  EXPECT_EQ(full.buffer.writePos, 1048u);
  EXPECT_EQ(full.buffer.capacity, 2048u);
  EXPECT_EQ(0, std::memcmp(full.buffer.start, second.data(), 1048));
  EXPECT_EQ(full.Feed(Bytes(second.begin() + 1048, second.end()), 2048), framing::kExtractNeedMore);
  EXPECT_EQ(full.messages, (std::vector<Bytes>{first, second}));

  // Full, but the following message is already complete: it is handed over
  // from where it lies, without a move.
  Cutter direct;
  Bytes rest = Message(1048, 3);
  Bytes both = Concat({first, rest});
  std::memcpy(framing::FreeSpace(direct.buffer), both.data(), both.size());
  direct.buffer.writePos = 2048;
  EXPECT_EQ(ExtractMessage(direct.buffer, direct.holder, framing::kDefaultMaxReceiveSize), framing::kExtractMessage);
  EXPECT_EQ(direct.buffer.readPos, 1000u);
  EXPECT_EQ(direct.buffer.writePos, 2048u);
  EXPECT_EQ(ExtractMessage(direct.buffer, direct.holder, framing::kDefaultMaxReceiveSize), framing::kExtractMessage);
  EXPECT_EQ(Bytes(direct.holder.data, direct.holder.data + direct.holder.size), rest);
  EXPECT_EQ(direct.buffer.readPos, 0u);
  EXPECT_EQ(direct.buffer.writePos, 0u);
}

TEST(Framing, SizeLimitAndMalformedSizes) {
  // Exactly the default limit is one message; the buffer never passes 21 steps.
  Bytes largest = Message(41088, 4);
  Cutter atLimit;
  EXPECT_EQ(atLimit.Feed(largest, largest.size()), framing::kExtractNeedMore);
  EXPECT_EQ(atLimit.messages, (std::vector<Bytes>{largest}));
  EXPECT_EQ(atLimit.buffer.capacity, 21u * 2048);

  // One more is refused as soon as its size field is complete, after the
  // message before it was handed over.
  Bytes good = Message(16, 1);
  Bytes tooLarge = Concat({good, Message(41089, 5)});
  Cutter overLimit;
  EXPECT_EQ(overLimit.Feed(tooLarge, 1), framing::kExtractTooLarge);
  EXPECT_EQ(overLimit.messages, (std::vector<Bytes>{good}));
  EXPECT_EQ(overLimit.buffer.writePos - overLimit.buffer.readPos, 4u);

  // A lower limit from the configuration applies the same way.
  Cutter configured(1024);
  EXPECT_EQ(configured.Feed(Message(1025, 1), 2048), framing::kExtractTooLarge);

  // Sizes 1, 2 and 3 cannot hold their own size field; 4 is a message with no body.
  for (uint32_t size : {1u, 2u, 3u}) {
    Cutter malformed;
    Bytes field = {static_cast<uint8_t>(size), 0, 0, 0, 0xAA, 0xBB};
    EXPECT_EQ(malformed.Feed(Concat({good, field}), 64), framing::kExtractMalformed) << size;
    EXPECT_EQ(malformed.messages, (std::vector<Bytes>{good})) << size;
  }
  Cutter empty;
  EXPECT_EQ(empty.Feed(Message(4, 0), 4), framing::kExtractNeedMore);
  EXPECT_EQ(empty.messages, (std::vector<Bytes>{Message(4, 0)}));
}

TEST(Framing, ReceiveBufferCeiling) {
  const uint32_t limit = 2 * 1048576;
  // A message of exactly the ceiling fills the largest buffer and is handed over.
  Bytes atCeiling = Message(1048576, 6);
  Cutter fits(limit);
  EXPECT_EQ(fits.Feed(atCeiling, atCeiling.size()), framing::kExtractNeedMore);
  ASSERT_EQ(fits.messages.size(), 1u);
  EXPECT_TRUE(fits.messages[0] == atCeiling);
  EXPECT_EQ(fits.buffer.capacity, framing::kReceiveBufferCeiling);

  // One byte more would need a larger buffer: reported as soon as its size
  // field is read, before the buffer grows or a holder is allocated.
  Bytes beyond = Message(1048577, 7);
  Cutter full(limit);
  EXPECT_EQ(full.Feed(beyond, beyond.size()), framing::kExtractBufferFull);
  EXPECT_TRUE(full.messages.empty());
  EXPECT_EQ(full.buffer.capacity, framing::kReceiveBufferStep);
  EXPECT_EQ(full.holder.capacity, 0u);

  // With the limit raised as far as the configuration can raise it, a size
  // field of 3 GiB allocates nothing.
  Cutter huge(0xFFFFFFFFu);
  Bytes claim = {0x00, 0x00, 0x00, 0xC0};
  EXPECT_EQ(huge.Feed(claim, claim.size()), framing::kExtractBufferFull);
  EXPECT_EQ(huge.holder.data, nullptr);
}

#ifdef _WIN32
// The stream is placed so that its last byte is the last byte before a page
// that cannot be read: any read past the received bytes faults.
class GuardedStream {
 public:
  explicit GuardedStream(const Bytes& bytes) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
    size_t span = ((bytes.size() + page_ - 1) / page_ + 1) * page_;
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, span, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    EXPECT_NE(base_, nullptr);
    DWORD old = 0;
    EXPECT_TRUE(VirtualProtect(base_ + span - page_, page_, PAGE_NOACCESS, &old));
    uint8_t* at = base_ + span - page_ - bytes.size();
    std::memcpy(at, bytes.data(), bytes.size());
    // The capacity claims room beyond the guard so that the cutter never
    // compacts or grows (and never frees) this buffer; nothing may be read there.
    buffer.start = at;
    buffer.capacity = static_cast<uint32_t>(bytes.size()) + 4096;
    buffer.writePos = static_cast<uint32_t>(bytes.size());
  }
  ~GuardedStream() {
    framing::FreeMessage(holder);
    VirtualFree(base_, 0, MEM_RELEASE);
  }

  std::vector<Bytes> CutAll(ExtractResult* last) {
    std::vector<Bytes> out;
    ExtractResult code;
    while ((code = ExtractMessage(buffer, holder, framing::kDefaultMaxReceiveSize)) == framing::kExtractMessage)
      out.emplace_back(holder.data, holder.data + holder.size);
    *last = code;
    return out;
  }

  ReceiveBuffer buffer;
  ReceivedMessage holder;

 private:
  size_t page_ = 0;
  uint8_t* base_ = nullptr;
};

TEST(Framing, NeverReadsPastTheReceivedBytes) {
  Bytes a = Message(24, 1), b = Message(9, 2);
  struct Case {
    const char* name;
    Bytes stream;
    std::vector<Bytes> expected;
    ExtractResult last;
  };
  const Case cases[] = {
      {"messages end at the guard", Concat({a, b}), {a, b}, framing::kExtractNeedMore},
      {"three bytes of a size field", Concat({a, Bytes(b.begin(), b.begin() + 3)}), {a}, framing::kExtractNeedMore},
      {"a zero run up to the guard", Concat({a, Zeros(7)}), {a}, framing::kExtractNeedMore},
      {"part of a message", Concat({a, Bytes(b.begin(), b.end() - 1)}), {a}, framing::kExtractNeedMore},
      {"a size of 3 at the end", Concat({a, Bytes{3, 0, 0, 0}}), {a}, framing::kExtractMalformed},
  };
  for (const Case& c : cases) {
    GuardedStream guarded(c.stream);
    ExtractResult last;
    EXPECT_EQ(guarded.CutAll(&last), c.expected) << c.name;
    EXPECT_EQ(last, c.last) << c.name;
  }
}
#endif

}  // namespace
