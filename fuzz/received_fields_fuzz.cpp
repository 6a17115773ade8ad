// Fuzz target: the fields the bridge reads out of received messages
// (received_fields) and the decisions its dispatch makes with them, on
// arbitrary bytes. The input is one received message, copied into a buffer of
// exactly its length.
//
// The dispatch's route (RouteOf, which SimConnectProcess switches on) is
// checked against the message layout; what each handler then reads (they sit
// on the Windows side) is walked over the same reads, in the same order:
//   - below the 12-byte header: no kind, the message is dropped;
//   - below MinimumSize(kind): dropped ("too short");
//   - exception: the three fields are read without checking the result, so
//     they must read whenever the minimum size is met;
//   - event: the event id and the header's size field;
//   - object data: the request id; for the title requests the title is the
//     NUL-terminated text from offset 40, looked up within the message;
//   - client data: the request id; for the host-request subscription the
//     HostRequest record at offset 40, its name cut to 255 characters.
// Every value read is compared with an independent little-endian read at the
// offset the message layout gives it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bridge/received_fields.h"
#include "common/exact_buffer.h"
#include "common/fuzz_check.h"
#include "common/input_reader.h"
#include "lvar/records.h"
#include "simconnect/received_string.h"

namespace {

using fuzz::Le32;
using fuzz::Le64;

constexpr uint32_t kHeaderSize = 12;
constexpr uint32_t kData = 40;

// The bridge's own request ids for the aircraft title.
constexpr uint32_t kTitleRequestPeriodic = 10001;
constexpr uint32_t kTitleRequestOnce = 10002;

void CheckHostRequest(const uint8_t* message, size_t size) {
  records::HostRequest request;
  std::memset(&request, 0xA5, sizeof request);
  bool read = received_fields::ReadHostRequest(message, size, &request);
  FUZZ_CHECK(read == (size >= kData + records::kHostRequestSize));
  if (!read) return;
  const uint8_t* record = message + kData;
  FUZZ_CHECK(request.tag == Le32(record + 0));
  FUZZ_CHECK(request.command == Le32(record + 4));
  FUZZ_CHECK(request.param == Le32(record + 8));
  uint64_t valueBits;
  std::memcpy(&valueBits, &request.value, sizeof valueBits);
  FUZZ_CHECK(valueBits == Le64(record + 268));
  // The name: the record's text up to its first NUL, at most 255 characters,
  // then zeros to the end of the field.
  size_t length = 0;
  while (length < 255 && record[12 + length] != 0) ++length;
  FUZZ_CHECK(std::memcmp(request.name, record + 12, length) == 0);
  for (size_t i = length; i < sizeof request.name; ++i) FUZZ_CHECK(request.name[i] == 0);
  FUZZ_CHECK(std::strlen(request.name) == length);
}

void CheckTitle(const uint8_t* message, size_t size) {
  // SimConnect_RetrieveString(message, size, message + 40, ...): the title is
  // null unless a NUL lies between offset 40 and the end.
  uint32_t padded = 0xDEADBEEF;
  bool found = received_string::Find(message, static_cast<uint32_t>(size), message + kData, &padded);
  const void* nul = std::memchr(message + kData, 0, size - kData);
  FUZZ_CHECK(found == (nul != nullptr));
  if (found) {
    size_t length = static_cast<const uint8_t*>(nul) - (message + kData);
    FUZZ_CHECK(std::strlen(reinterpret_cast<const char*>(message + kData)) == length);
    FUZZ_CHECK(padded == (length & ~size_t{3}) + 4);
  } else {
    FUZZ_CHECK(padded == 0xDEADBEEF);
  }
}

void Dispatch(const uint8_t* message, size_t size) {
  uint32_t kind = 0xFFFFFFFF;
  bool hasKind = received_fields::ReadKind(message, size, &kind);
  uint32_t headerSize = 0xFFFFFFFF;
  bool hasSize = received_fields::ReadHeaderSize(message, size, &headerSize);
  FUZZ_CHECK(hasKind == (size >= kHeaderSize));
  FUZZ_CHECK(hasSize == hasKind);
  if (!hasKind) {
    uint32_t untouched = 0xFFFFFFFF;
    FUZZ_CHECK(received_fields::RouteOf(message, size, &untouched) == received_fields::Route::kNoHeader);
    return;
  }
  FUZZ_CHECK(kind == Le32(message + 8));
  FUZZ_CHECK(headerSize == Le32(message + 0));

  const uint32_t minimum = received_fields::MinimumSize(kind);
  switch (kind) {
    case 1: FUZZ_CHECK(minimum == 24); break;
    case 4: FUZZ_CHECK(minimum == 20); break;
    case 8: FUZZ_CHECK(minimum == 40); break;
    case 16: FUZZ_CHECK(minimum == 40); break;
    default: FUZZ_CHECK(minimum == kHeaderSize); break;
  }
  // Each read agrees with the minimum, whatever the kind says: a read never
  // succeeds on fewer bytes than its fields need.
  received_fields::ExceptionFields exception{};
  FUZZ_CHECK(received_fields::ReadException(message, size, &exception) == (size >= 24));
  uint32_t eventId = 0;
  FUZZ_CHECK(received_fields::ReadEventId(message, size, &eventId) == (size >= 20));
  uint32_t requestId = 0;
  FUZZ_CHECK(received_fields::ReadRequestId(message, size, &requestId) == (size >= kData));

  using received_fields::Route;
  uint32_t routedKind = 0xFFFFFFFF;
  const Route route = received_fields::RouteOf(message, size, &routedKind);
  FUZZ_CHECK(routedKind == kind);
  if (size < minimum) {
    FUZZ_CHECK(route == Route::kTooShort);
    return;  // dropped as too short
  }
  switch (kind) {
    case 1: FUZZ_CHECK(route == Route::kException); break;
    case 2: FUZZ_CHECK(route == Route::kOpen); break;
    case 4: FUZZ_CHECK(route == Route::kEvent); break;
    case 8: FUZZ_CHECK(route == Route::kObjectData); break;
    case 16: FUZZ_CHECK(route == Route::kClientData); break;
    default: FUZZ_CHECK(route == Route::kOtherKind); break;
  }
  switch (kind) {
    case 1:
      FUZZ_CHECK(exception.exception == Le32(message + 12));
      FUZZ_CHECK(exception.sendId == Le32(message + 16));
      FUZZ_CHECK(exception.index == Le32(message + 20));
      break;
    case 4:
      FUZZ_CHECK(eventId == Le32(message + 16));
      break;
    case 8:
      FUZZ_CHECK(requestId == Le32(message + 12));
      if (requestId == kTitleRequestPeriodic || requestId == kTitleRequestOnce) CheckTitle(message, size);
      break;
    case 16:
      FUZZ_CHECK(requestId == Le32(message + 12));
      if (requestId == records::kHostRequestId) CheckHostRequest(message, size);
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ExactBuffer message(data, size);
  Dispatch(message.data(), message.size());
  // Whatever the request id says, the record reads only from a message that
  // holds all of it, and a title lookup from offset 40 stays inside.
  if (size >= kData) CheckTitle(message.data(), message.size());
  CheckHostRequest(message.data(), message.size());

  // A missing message reads as nothing.
  uint32_t value = 0;
  FUZZ_CHECK(!received_fields::ReadKind(nullptr, size, &value));
  FUZZ_CHECK(!received_fields::ReadRequestId(nullptr, size, &value));
  records::HostRequest request{};
  FUZZ_CHECK(!received_fields::ReadHostRequest(nullptr, size, &request));
  return 0;
}
