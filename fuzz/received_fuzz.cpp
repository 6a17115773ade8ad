// Fuzz target: what the bridge reads out of one received message, held in a
// buffer of exactly its length: the dispatch's route and the fields each
// handler reads (received_fields), SimConnect_RetrieveString's bounds
// (received_string::Find) and the key string of a host request (key_string).
//
// Input: u16 `at`, then the message; a text pointer at offset `at` - 16 lies
// before the message, inside it, at its end or past it.
// Checked: each field read succeeds exactly when the message holds the field,
// with the little-endian value at its offset; MinimumSize and RouteOf follow
// each kind's least size (exception 24, event 20, object and client data 40,
// others 12). Find at the text pointer, at 40 and at the edges is true exactly
// when the pointer lies inside and a NUL follows before the end, paddedSize then
// the text's length rounded down to 4s plus 4, else untouched; so is each step
// of a walk over packed strings. ReadHostRequest reads exactly when the whole
// 276-byte record lies at offset 40, as records::DecodeHostRequest does.
// key_string::ParseCodes agrees with std::istringstream (`>> int`, `>> char`,
// "C" locale) over the bytes from the text pointer on (no NUL needed) and over
// a host request's name as the bridge passes it.
#include <algorithm>
#include <locale>
#include <sstream>
#include <vector>

#include "bridge/key_string.h"
#include "bridge/received_fields.h"
#include "common/fuzz.h"
#include "lvar/records.h"
#include "simconnect/received_string.h"

namespace {

using fuzz::Le32;
constexpr uint32_t kUntouched = 0xDEADBEEF;

void CheckFields(const uint8_t* m, size_t size) {
  namespace rf = received_fields;
  uint32_t kind = kUntouched, headerSize = kUntouched, eventId = kUntouched, requestId = kUntouched;
  rf::ExceptionFields e{};
  FUZZ_CHECK(rf::ReadKind(m, size, &kind) == (size >= 12));
  FUZZ_CHECK(rf::ReadHeaderSize(m, size, &headerSize) == (size >= 12));
  FUZZ_CHECK(rf::ReadEventId(m, size, &eventId) == (size >= 20));
  FUZZ_CHECK(rf::ReadException(m, size, &e) == (size >= 24));
  FUZZ_CHECK(rf::ReadRequestId(m, size, &requestId) == (size >= 40));
  if (size >= 12) FUZZ_CHECK(kind == Le32(m + 8) && headerSize == Le32(m));
  if (size >= 20) FUZZ_CHECK(eventId == Le32(m + 16));
  if (size >= 24) FUZZ_CHECK(e.exception == Le32(m + 12) && e.sendId == Le32(m + 16) && e.index == Le32(m + 20));
  if (size >= 40) FUZZ_CHECK(requestId == Le32(m + 12));

  using rf::Route;
  uint32_t routed = kUntouched;
  const Route route = rf::RouteOf(m, size, &routed);
  if (size < 12) {
    FUZZ_CHECK(route == Route::kNoHeader && routed == kUntouched);
    return;
  }
  uint32_t minimum = 12;
  Route expected = Route::kOtherKind;
  switch (kind) {
    case 1: minimum = 24; expected = Route::kException; break;
    case 2: expected = Route::kOpen; break;
    case 4: minimum = 20; expected = Route::kEvent; break;
    case 8: minimum = 40; expected = Route::kObjectData; break;
    case 16: minimum = 40; expected = Route::kClientData; break;
  }
  FUZZ_CHECK(rf::MinimumSize(kind) == minimum && routed == kind);
  FUZZ_CHECK(route == (size < minimum ? Route::kTooShort : expected));
}

// The text pointer `offset` bytes from `m`, formed from the address: no out-of-range arithmetic.
const uint8_t* At(const uint8_t* m, int64_t offset) {
  return reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(m) + static_cast<intptr_t>(offset));
}

// Returns paddedSize when the text is found, else 0.
uint32_t CheckFind(const uint8_t* m, size_t size, int64_t offset) {
  uint32_t want = kUntouched;
  const void* nul = nullptr;
  if (offset >= 0 && static_cast<size_t>(offset) < size) nul = std::memchr(m + offset, 0, size - offset);
  if (nul != nullptr) want = static_cast<uint32_t>((static_cast<const uint8_t*>(nul) - (m + offset)) / 4 * 4 + 4);
  uint32_t padded = kUntouched;
  FUZZ_CHECK(received_string::Find(m, static_cast<uint32_t>(size), At(m, offset), &padded) == (nul != nullptr));
  FUZZ_CHECK(padded == want);
  FUZZ_CHECK(received_string::Find(m, static_cast<uint32_t>(size), At(m, offset), nullptr) == (nul != nullptr));
  return nul != nullptr ? padded : 0;
}

std::vector<int32_t> StreamCodes(const std::string& text) {
  std::istringstream stream(text);
  stream.imbue(std::locale::classic());
  std::vector<int32_t> codes;
  int code = 0;
  char separator = 0;
  while (stream >> code) {
    stream >> separator;  // may fail after the last code
    codes.push_back(code);
  }
  return codes;
}

// `length` bytes at `text`, which stop earlier at a NUL.
void CheckKeys(const char* text, size_t length) {
  const std::string visible(text, strnlen(text, length));
  const std::vector<int32_t> codes = key_string::ParseCodes(text, length);
  const std::vector<int32_t> expected = StreamCodes(visible);
  if (codes != expected) std::fprintf(stderr, "key string \"%s\"\n", visible.c_str());
  FUZZ_CHECK(codes == expected);
}

void CheckHostRequest(const uint8_t* m, size_t size) {
  records::HostRequest read, decoded;
  std::memset(&read, 0xA5, sizeof read);
  const bool ok = received_fields::ReadHostRequest(m, size, &read);
  FUZZ_CHECK(ok == (size >= 40 + records::kHostRequestSize));
  if (!ok) return;
  FUZZ_CHECK(records::DecodeHostRequest(m + 40, size - 40, &decoded));
  FUZZ_CHECK(std::memcmp(&read, &decoded, sizeof read) == 0);
  CheckKeys(read.name, std::strlen(read.name));  // as the bridge hands the name over
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InputReader in(data, size);
  const int64_t at = int64_t{in.U16()} - 16;
  size_t length = 0;
  const uint8_t* bytes = in.Take(SIZE_MAX, &length);
  const auto exact = fuzz::Exact(bytes, length);
  const uint8_t* m = exact.get();

  CheckFields(m, length);
  CheckHostRequest(m, length);
  for (int64_t offset : {int64_t{0}, int64_t{40}, int64_t(length) - 1, int64_t(length), int64_t{-1}}) {
    CheckFind(m, length, offset);
  }
  // From the text pointer on, the way a caller reads packed strings: moving on by paddedSize.
  for (int64_t offset = at, step = 0; (step = CheckFind(m, length, offset)) != 0;) offset += step;
  uint32_t padded = kUntouched;  // no message, an empty one or no text: never found
  FUZZ_CHECK(!received_string::Find(nullptr, static_cast<uint32_t>(length), m, &padded));
  FUZZ_CHECK(!received_string::Find(m, 0, m, &padded) && padded == kUntouched);
  FUZZ_CHECK(!received_string::Find(m, static_cast<uint32_t>(length), nullptr, &padded));

  const size_t from = std::min<size_t>(static_cast<size_t>(std::max<int64_t>(at, 0)), length);
  CheckKeys(reinterpret_cast<const char*>(m) + from, length - from);
  return 0;
}
