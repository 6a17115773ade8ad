// Fuzz target: the bounds of SimConnect_RetrieveString (received_string::Find).
//
// Input: u16 `at` (little-endian), then the message bytes, which are copied
// into a buffer of exactly their length. The text pointer is the message
// start plus (at - 16): it may lie before the message, inside it, at its end or
// past it. Find must answer from the message's bytes alone:
//   - true exactly when the text starts inside the message and a NUL follows
//     before the message ends; paddedSize is then the text's length rounded
//     down to a multiple of 4, plus 4 (room for the text and its NUL);
//   - false otherwise, with paddedSize left alone.
// A caller that walks a list of packed strings moves on by paddedSize; that
// walk is replayed from the text pointer and must end without reading outside
// the message.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/exact_buffer.h"
#include "common/fuzz_check.h"
#include "common/input_reader.h"
#include "simconnect/received_string.h"

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEF;

// The pointer `offset` bytes from the message start, built from the address so
// that an offset outside the message does not form an out-of-range pointer in
// the arithmetic.
const uint8_t* PointerAt(const uint8_t* message, int64_t offset) {
  return reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(message) + static_cast<intptr_t>(offset));
}

// The expected answer, read from the message's bytes only.
bool Expected(const uint8_t* message, size_t size, int64_t offset, uint32_t* padded) {
  if (offset < 0 || static_cast<uint64_t>(offset) >= size) return false;
  const void* nul = std::memchr(message + offset, 0, size - static_cast<size_t>(offset));
  if (nul == nullptr) return false;
  size_t length = static_cast<const uint8_t*>(nul) - (message + offset);
  *padded = static_cast<uint32_t>((length / 4) * 4 + 4);
  return true;
}

void CheckOne(const uint8_t* message, size_t size, int64_t offset) {
  const uint8_t* text = PointerAt(message, offset);
  uint32_t expectedPadded = kUntouched;
  bool expected = Expected(message, size, offset, &expectedPadded);

  uint32_t padded = kUntouched;
  bool found = received_string::Find(message, static_cast<uint32_t>(size), text, &padded);
  FUZZ_CHECK(found == expected);
  FUZZ_CHECK(padded == expectedPadded);
  FUZZ_CHECK(received_string::Find(message, static_cast<uint32_t>(size), text, nullptr) == expected);
  if (found) {
    size_t length = std::strlen(reinterpret_cast<const char*>(text));
    FUZZ_CHECK(padded % 4 == 0 && padded > length && padded <= length + 4);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InputReader in(data, size);
  const int64_t at = static_cast<int64_t>(in.U16()) - 16;
  size_t length = 0;
  const uint8_t* bytes = in.Take(in.Remaining(), &length);
  fuzz::ExactBuffer message(bytes, length);

  // No message, an empty one, or no text: never found.
  uint32_t padded = kUntouched;
  FUZZ_CHECK(!received_string::Find(nullptr, static_cast<uint32_t>(length), message.data(), &padded));
  FUZZ_CHECK(!received_string::Find(message.data(), 0, message.data(), &padded));
  FUZZ_CHECK(!received_string::Find(message.data(), static_cast<uint32_t>(length), nullptr, &padded));
  FUZZ_CHECK(padded == kUntouched);

  CheckOne(message.data(), length, at);
  // The edges: the first and last byte, the end, one before the start.
  CheckOne(message.data(), length, 0);
  CheckOne(message.data(), length, static_cast<int64_t>(length) - 1);
  CheckOne(message.data(), length, static_cast<int64_t>(length));
  CheckOne(message.data(), length, -1);

  // Walk packed strings from `at` the way a caller reads a list of them.
  int64_t offset = at;
  for (size_t step = 0; step <= length; ++step) {
    uint32_t advance = 0;
    if (!received_string::Find(message.data(), static_cast<uint32_t>(length), PointerAt(message.data(), offset),
                                &advance)) {
      break;
    }
    FUZZ_CHECK(advance >= 4);
    offset += advance;
  }
  return 0;
}
