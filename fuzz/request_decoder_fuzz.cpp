// Fuzz target: simhost's side of the wire, cutting a client's stream into
// requests (RequestStream) and decoding each request (DecodeRequest).
//
// Byte 0 chooses the mode (mod 3); the rest of the input is:
//   0  one request message, decoded from a buffer of exactly its length. The
//      result is compared with the rejections the decoder documents, worked
//      out here in their order: size, version, id, the id's size, the first
//      text field without a NUL (with its argument index), Open's fixed values.
//      A decoded request's fields are compared with the bytes at their offsets.
//   1  a byte stream in reads: each read is a length byte n and then n bytes.
//      Every request handed out lies within [16, 131072] bytes, equals its
//      size field and the stream's bytes in order; "malformed" is answered for
//      exactly the first bad size field and from then on; Buffered() counts
//      what was received and not handed out. Each request is then decoded
//      from a buffer of exactly its length.
//   2  a round trip: a request built by the client's writers (request_case.h)
//      whose texts fit, with a sendId, decodes without exception to the same
//      header and fields; cut through the stream in two reads, it comes out
//      whole.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "common/exact_buffer.h"
#include "common/fuzz_check.h"
#include "common/input_reader.h"
#include "common/request_case.h"
#include "host_protocol.h"
#include "request_decoder.h"
#include "request_stream.h"
#include "simconnect/protocol.h"

namespace {

using fuzz::Le32;
namespace hp = host_protocol;
namespace p = protocol;

constexpr uint32_t kMinRequest = 16;
constexpr uint32_t kMaxRequest = 131072;

struct TextField {
  uint32_t offset;
  uint32_t argumentIndex;
};

// The layout of each request as the decoder must see it: id, size of the
// fixed part, whether a data block follows (its length at unitSizeOffset),
// and the text fields with the argument index each one reports.
struct Layout {
  uint32_t id;
  uint32_t size;
  bool hasData;
  uint32_t unitSizeOffset;
  size_t variantIndex;
  TextField texts[2];
  uint32_t textCount;
};

const Layout kLayouts[] = {
    {p::kOpenId, 296, false, 0, 0, {{16, 1}}, 1},
    {p::kAddToDataDefinitionId, 544, false, 0, 1, {{20, 2}, {276, 3}}, 2},
    {p::kRequestDataOnSimObjectId, 48, false, 0, 2, {}, 0},
    {p::kMenuAddItemId, 280, false, 0, 3, {{16, 1}}, 1},
    {p::kMenuAddSubItemId, 284, false, 0, 4, {{20, 2}}, 1},
    {p::kMenuRemoveSubItemId, 24, false, 0, 5, {}, 0},
    {p::kMapClientDataNameToIdId, 276, false, 0, 6, {{16, 1}}, 1},
    {p::kCreateClientDataId, 28, false, 0, 7, {}, 0},
    {p::kAddToClientDataDefinitionId, 36, false, 0, 8, {}, 0},
    {p::kRequestClientDataId, 48, false, 0, 9, {}, 0},
    {p::kSetClientDataId, 36, true, 32, 10, {}, 0},
    {p::kTextId, 32, true, 28, 11, {}, 0},
};

const Layout* FindLayout(uint32_t id) {
  for (const Layout& layout : kLayouts) {
    if (layout.id == id) return &layout;
  }
  return nullptr;
}

bool HasNul(const uint8_t* field) { return std::memchr(field, 0, 256) != nullptr; }

std::string FieldText(const uint8_t* field) { return std::string(reinterpret_cast<const char*>(field)); }

uint32_t F32Bits(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

// The exception code and argument index the decoder must answer.
void ExpectedRejection(const uint8_t* m, size_t size, uint32_t* code, uint32_t* index) {
  *index = 0;
  if (size < kMinRequest || Le32(m) != size) {
    *code = hp::kExceptionSizeMismatch;
    return;
  }
  if (Le32(m + 4) != 37) {
    *code = hp::kExceptionVersionMismatch;
    return;
  }
  const Layout* layout = FindLayout(Le32(m + 8));
  if (layout == nullptr) {
    *code = hp::kExceptionUnrecognizedId;
    return;
  }
  uint64_t expectedSize = layout->size;
  if (layout->hasData && size >= layout->size) expectedSize += Le32(m + layout->unitSizeOffset);
  if (expectedSize != size) {
    *code = hp::kExceptionSizeMismatch;
    return;
  }
  for (uint32_t i = 0; i < layout->textCount; ++i) {
    if (!HasNul(m + layout->texts[i].offset)) {
      *code = hp::kExceptionStringNotTerminated;
      *index = layout->texts[i].argumentIndex;
      return;
    }
  }
  if (layout->id == p::kOpenId &&
      (Le32(m + 272) != 0 || Le32(m + 276) != 0x50334400 || Le32(m + 280) != 6 || Le32(m + 284) != 0 ||
       Le32(m + 288) != 0 || Le32(m + 292) != 0)) {
    *code = hp::kExceptionBadOpen;
    return;
  }
  *code = hp::kExceptionNone;
}

// A decoded request's fields against the message bytes.
void CheckFields(const simhost::DecodedRequest& r, const uint8_t* m, size_t size) {
  const Layout* layout = FindLayout(r.id);
  FUZZ_CHECK(layout != nullptr);
  FUZZ_CHECK(r.body.index() == layout->variantIndex);
  auto u = [m](uint32_t offset) { return Le32(m + offset); };
  if (const auto* b = std::get_if<simhost::OpenRequest>(&r.body)) {
    FUZZ_CHECK(b->name == FieldText(m + 16));
  } else if (const auto* b = std::get_if<simhost::AddToDataDefinitionRequest>(&r.body)) {
    FUZZ_CHECK(b->definitionId == u(16) && b->datumName == FieldText(m + 20) && b->unitsName == FieldText(m + 276));
    FUZZ_CHECK(b->datumType == u(532) && F32Bits(b->epsilon) == u(536) && b->datumId == u(540));
  } else if (const auto* b = std::get_if<simhost::RequestDataOnSimObjectRequest>(&r.body)) {
    FUZZ_CHECK(b->requestId == u(16) && b->definitionId == u(20) && b->objectId == u(24) && b->period == u(28));
    FUZZ_CHECK(b->flags == u(32) && b->origin == u(36) && b->interval == u(40) && b->limit == u(44));
  } else if (const auto* b = std::get_if<simhost::MenuAddItemRequest>(&r.body)) {
    FUZZ_CHECK(b->text == FieldText(m + 16) && b->menuEventId == u(272) && b->data == u(276));
  } else if (const auto* b = std::get_if<simhost::MenuAddSubItemRequest>(&r.body)) {
    FUZZ_CHECK(b->menuEventId == u(16) && b->text == FieldText(m + 20) && b->subMenuEventId == u(276) &&
               b->data == u(280));
  } else if (const auto* b = std::get_if<simhost::MenuRemoveSubItemRequest>(&r.body)) {
    FUZZ_CHECK(b->menuEventId == u(16) && b->subMenuEventId == u(20));
  } else if (const auto* b = std::get_if<simhost::MapClientDataNameToIdRequest>(&r.body)) {
    FUZZ_CHECK(b->name == FieldText(m + 16) && b->clientDataId == u(272));
  } else if (const auto* b = std::get_if<simhost::CreateClientDataRequest>(&r.body)) {
    FUZZ_CHECK(b->clientDataId == u(16) && b->size == u(20) && b->flags == u(24));
  } else if (const auto* b = std::get_if<simhost::AddToClientDataDefinitionRequest>(&r.body)) {
    FUZZ_CHECK(b->definitionId == u(16) && b->offset == u(20) && b->sizeOrType == u(24) &&
               F32Bits(b->epsilon) == u(28) && b->datumId == u(32));
  } else if (const auto* b = std::get_if<simhost::RequestClientDataRequest>(&r.body)) {
    FUZZ_CHECK(b->clientDataId == u(16) && b->requestId == u(20) && b->definitionId == u(24) && b->period == u(28));
    FUZZ_CHECK(b->flags == u(32) && b->origin == u(36) && b->interval == u(40) && b->limit == u(44));
  } else if (const auto* b = std::get_if<simhost::SetClientDataRequest>(&r.body)) {
    FUZZ_CHECK(b->clientDataId == u(16) && b->definitionId == u(20) && b->flags == u(24) && b->reserved == u(28));
    FUZZ_CHECK(b->unitSize == u(32) && 36 + uint64_t{b->unitSize} == size && b->data == m + 36);
  } else if (const auto* b = std::get_if<simhost::TextRequest>(&r.body)) {
    FUZZ_CHECK(b->textType == u(16) && F32Bits(b->displaySeconds) == u(20) && b->eventId == u(24));
    FUZZ_CHECK(b->unitSize == u(28) && 32 + uint64_t{b->unitSize} == size && b->data == m + 32);
  }
}

// Mode 0 (and each request cut by mode 1).
void CheckDecode(const uint8_t* m, size_t size) {
  simhost::DecodeResult result = simhost::DecodeRequest(m, size);
  uint32_t code = 0;
  uint32_t index = 0;
  ExpectedRejection(m, size, &code, &index);
  if (result.exceptionCode != code || result.argumentIndex != index) {
    std::fprintf(stderr, "decoder answered exception %u index %u, expected %u index %u\n", result.exceptionCode,
                 result.argumentIndex, code, index);
    FUZZ_CHECK(false);
  }
  FUZZ_CHECK(result.ok() == (code == hp::kExceptionNone));
  if (size >= kMinRequest) {
    FUZZ_CHECK(result.request.size == Le32(m) && result.request.version == Le32(m + 4));
    FUZZ_CHECK(result.request.id == Le32(m + 8) && result.request.sendId == Le32(m + 12));
  }
  if (result.ok()) CheckFields(result.request, m, size);
  FUZZ_CHECK(!simhost::DecodeRequest(nullptr, size).ok());
}

// Mode 1.
void CheckStream(fuzz::InputReader& in) {
  simhost::RequestStream stream;
  std::vector<uint8_t> received;
  size_t handedOut = 0;
  bool malformed = false;
  while (!in.Empty()) {
    size_t taken = 0;
    const uint8_t* bytes = in.Take(in.Byte(), &taken);
    stream.Append(bytes, taken);
    if (!malformed) received.insert(received.end(), bytes, bytes + taken);
    for (;;) {
      const uint8_t* request = nullptr;
      uint32_t size = 0;
      simhost::RequestStream::Result result = stream.Next(&request, &size);
      const size_t left = received.size() - handedOut;
      if (result == simhost::RequestStream::kMalformed) {
        if (!malformed) {
          FUZZ_CHECK(left >= 4);
          uint32_t field = Le32(received.data() + handedOut);
          FUZZ_CHECK(field < kMinRequest || field > kMaxRequest);
          FUZZ_CHECK(stream.BadSizeField() == field);
          malformed = true;
        }
        break;
      }
      FUZZ_CHECK(!malformed);
      if (result == simhost::RequestStream::kNeedMore) {
        if (left >= 4) {
          uint32_t field = Le32(received.data() + handedOut);
          FUZZ_CHECK(field >= kMinRequest && field <= kMaxRequest && field > left);
        }
        FUZZ_CHECK(stream.Buffered() == left);
        break;
      }
      FUZZ_CHECK(result == simhost::RequestStream::kRequest);
      FUZZ_CHECK(size >= kMinRequest && size <= kMaxRequest && size <= left);
      FUZZ_CHECK(Le32(request) == size);
      FUZZ_CHECK(std::memcmp(request, received.data() + handedOut, size) == 0);
      handedOut += size;
      FUZZ_CHECK(stream.Buffered() == received.size() - handedOut);
      fuzz::ExactBuffer copy(request, size);
      CheckDecode(copy.data(), copy.size());
    }
  }
}

// Mode 2.
void CheckRoundTrip(fuzz::InputReader& in) {
  const uint32_t sendId = in.U32();
  fuzz::RequestCase c = fuzz::ReadRequestCase(in);
  fuzz::ExactBuffer request(c.Size());
  if (!c.Write(request.data())) return;  // a text too long: the client sends nothing
  for (int i = 0; i < 4; ++i) request.data()[12 + i] = static_cast<uint8_t>(sendId >> (8 * i));

  simhost::DecodeResult result = simhost::DecodeRequest(request.data(), request.size());
  if (!result.ok()) {
    std::fprintf(stderr, "a request the client wrote (id %08x, %zu bytes) was refused: exception %u index %u\n",
                 c.Id(), request.size(), result.exceptionCode, result.argumentIndex);
    FUZZ_CHECK(false);
  }
  FUZZ_CHECK(result.request.size == c.Size() && result.request.version == 37);
  FUZZ_CHECK(result.request.id == c.Id() && result.request.sendId == sendId);
  CheckFields(result.request, request.data(), request.size());
  // The texts come back as they were given, up to their first NUL.
  auto text = [&c](int i) { return c.isNull[i] ? std::string() : std::string(c.text[i].c_str()); };
  const simhost::RequestBody& body = result.request.body;
  if (const auto* b = std::get_if<simhost::OpenRequest>(&body)) FUZZ_CHECK(b->name == text(0));
  if (const auto* b = std::get_if<simhost::AddToDataDefinitionRequest>(&body)) {
    FUZZ_CHECK(b->datumName == text(0) && b->unitsName == text(1));
  }
  if (const auto* b = std::get_if<simhost::MenuAddItemRequest>(&body)) FUZZ_CHECK(b->text == text(0));
  if (const auto* b = std::get_if<simhost::MenuAddSubItemRequest>(&body)) FUZZ_CHECK(b->text == text(0));
  if (const auto* b = std::get_if<simhost::MapClientDataNameToIdRequest>(&body)) FUZZ_CHECK(b->name == text(0));
  if (const auto* b = std::get_if<simhost::SetClientDataRequest>(&body)) {
    FUZZ_CHECK(b->unitSize == c.data.size() && std::memcmp(b->data, c.data.data(), c.data.size()) == 0);
  }
  if (const auto* b = std::get_if<simhost::TextRequest>(&body)) {
    FUZZ_CHECK(b->unitSize == c.data.size() && std::memcmp(b->data, c.data.data(), c.data.size()) == 0);
  }

  // Through the stream in two reads.
  simhost::RequestStream stream;
  const size_t split = sendId % (request.size() + 1);
  const uint8_t* cut = nullptr;
  uint32_t cutSize = 0;
  stream.Append(request.data(), split);
  if (split < request.size()) FUZZ_CHECK(stream.Next(&cut, &cutSize) == simhost::RequestStream::kNeedMore);
  stream.Append(request.data() + split, request.size() - split);
  FUZZ_CHECK(stream.Next(&cut, &cutSize) == simhost::RequestStream::kRequest);
  FUZZ_CHECK(cutSize == request.size() && std::memcmp(cut, request.data(), cutSize) == 0);
  FUZZ_CHECK(stream.Next(&cut, &cutSize) == simhost::RequestStream::kNeedMore);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InputReader in(data, size);
  switch (in.Byte() % 3) {
    case 0: {
      size_t length = 0;
      const uint8_t* bytes = in.Take(in.Remaining(), &length);
      fuzz::ExactBuffer message(bytes, length);
      CheckDecode(message.data(), message.size());
      break;
    }
    case 1:
      CheckStream(in);
      break;
    default:
      CheckRoundTrip(in);
      break;
  }
  return 0;
}
