#include "framing_stream.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "simconnect/transport/framing.h"
#include "simconnect/wire.h"

namespace bench {

namespace {

// Message sizes as they come: client data of each record, events, exceptions,
// the title, the open reply.
constexpr uint32_t kTypicalSizes[] = {308, 308, 308, 308, 316, 1084, 4052, 24, 24, 300, 308};
constexpr uint32_t kTypicalCount = sizeof kTypicalSizes / sizeof kTypicalSizes[0];

struct Stream {
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> sizes;
};

Stream MakeStream(size_t totalBytes) {
  Stream stream;
  stream.bytes.reserve(totalBytes + 16384);
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  };
  while (stream.bytes.size() < totalBytes) {
    uint32_t pick = next();
    uint32_t size = pick % 10 == 0 ? 12 + next() % (16384 - 12 + 1) : kTypicalSizes[next() % kTypicalCount];
    size_t at = stream.bytes.size();
    stream.bytes.resize(at + size);
    wire::StoreU32(&stream.bytes[at], size);
    // Nonzero bytes after the size field: zero runs are skipped by the
    // framing only where a size is expected.
    for (uint32_t i = 4; i < size; ++i) stream.bytes[at + i] = static_cast<uint8_t>(1 + (i + size) % 251);
    stream.sizes.push_back(size);
  }
  return stream;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

FramingFigures MeasureFraming(size_t streamMiB, size_t readSize) {
  FramingFigures figures;
  figures.readSize = readSize;
  Stream stream = MakeStream(streamMiB * 1048576);
  const size_t total = stream.bytes.size();

  framing::ReceiveBuffer buffer;
  framing::ReceivedMessage message;
  if (!framing::InitReceiveBuffer(buffer)) return figures;

  // The framing: each read lands in the free end of the buffer, then every
  // whole message is cut.
  size_t next = 0;
  bool intact = true;
  std::vector<uint32_t> reads;  // the size of each read, for the copy below
  reads.reserve(total / 512 + 1);
  size_t position = 0;
  auto start = std::chrono::steady_clock::now();
  while (position < total) {
    size_t room = framing::FreeSpaceLength(buffer);
    size_t n = room < readSize ? room : readSize;
    if (n > total - position) n = total - position;
    std::memcpy(framing::FreeSpace(buffer), &stream.bytes[position], n);
    buffer.writePos += static_cast<uint32_t>(n);
    position += n;
    reads.push_back(static_cast<uint32_t>(n));
    framing::ExtractResult result;
    while ((result = framing::ExtractMessage(buffer, message, framing::kDefaultMaxReceiveSize)) ==
           framing::ExtractResult::Message) {
      if (next >= stream.sizes.size() || message.size != stream.sizes[next] ||
          wire::LoadU32(message.data) != message.size) {
        intact = false;
      }
      ++next;
    }
    if (result != framing::ExtractResult::NeedMore) {
      intact = false;
      break;
    }
  }
  double framingSeconds = Seconds(start);
  figures.messages = next;
  figures.intact = intact && next == stream.sizes.size();
  figures.framingMiBs = total / 1048576.0 / framingSeconds;
  figures.messagesPerSecond = next / framingSeconds;

  // The same reads, of the same sizes, copied into a buffer of the receive
  // buffer's final size and nothing else.
  std::vector<uint8_t> target(buffer.capacity);
  size_t at = 0;
  position = 0;
  start = std::chrono::steady_clock::now();
  for (uint32_t n : reads) {
    if (at + n > target.size()) at = 0;
    std::memcpy(&target[at], &stream.bytes[position], n);
    at += n;
    position += n;
  }
  double copySeconds = Seconds(start);
  figures.copyMiBs = total / 1048576.0 / copySeconds;
  volatile uint8_t sink = target[0];
  (void)sink;

  framing::FreeMessage(message);
  framing::FreeReceiveBuffer(buffer);
  return figures;
}

}  // namespace bench
