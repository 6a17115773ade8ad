// Fuzz target: both ends of the requests' wire format, the client's writers
// (request_encoding) and simhost's checks (DecodeRequest), against a table of
// the layouts written here. (The stream's cutting is the client library's
// framing, which framing_fuzz covers.)
//
// Byte 0 chooses the mode (mod 3); the rest of the input is:
//   0, 1  one request message, in a buffer of exactly its length;
//   2  a writer's arguments: kind byte (mod 12), eight u32, an f32, two texts
//      (each a u16 v: 0xFFFF null, else v % 600 characters, the input's, then
//      a filler pattern), a u16 m and m % 4096 data bytes.
// Checked: decoding answers the rejections in their order (size, version, id,
// the id's size, the first text without NUL and its argument index, Open's
// fixed values) and the header's id and SendID whenever there is one.
// Each writer, in a buffer of exactly its size, writes the table's image (sendId
// untouched), which decodes, exactly when each text fits its 256-byte field;
// else the texts up to the one too long, that one cut to 255 and a NUL.
#include <algorithm>

#include "common/fuzz.h"
#include "host_protocol.h"
#include "request_decoder.h"
#include "simconnect/request_encoding.h"

namespace {

using fuzz::Le32;
using fuzz::Put32;
namespace hp = host_protocol;

struct Text {
  uint32_t at;        // offset of the 256-byte field; 0: none
  uint32_t argument;  // the argument index an exception names
};

struct Layout {
  uint32_t id;
  uint32_t size;        // of the fixed part
  uint32_t numbers[8];  // offsets of the writer's u32 arguments in their order; 0 ends
  uint32_t floatAt;     // of its f32 argument; 0: none
  Text texts[2];
  uint32_t unitSizeAt;  // of the length of a data block after the fixed part; 0: none
};
const Layout kLayouts[] = {
    {0xF0000001, 296, {}, 0, {{16, 1}}, 0},                                 // Open
    {0xF000000C, 544, {16, 532, 540}, 536, {{20, 2}, {276, 3}}, 0},        // AddToDataDefinition
    {0xF000000E, 48, {16, 20, 24, 28, 32, 36, 40, 44}, 0, {}, 0},           // RequestDataOnSimObject
    {0xF0000031, 280, {272, 276}, 0, {{16, 1}}, 0},                         // MenuAddItem
    {0xF0000033, 284, {16, 276, 280}, 0, {{20, 2}}, 0},                     // MenuAddSubItem
    {0xF0000034, 24, {16, 20}, 0, {}, 0},                                   // MenuRemoveSubItem
    {0xF0000037, 276, {272}, 0, {{16, 1}}, 0},                              // MapClientDataNameToID
    {0xF0000038, 28, {16, 20, 24}, 0, {}, 0},                               // CreateClientData
    {0xF0000039, 36, {16, 20, 24, 32}, 28, {}, 0},                          // AddToClientDataDefinition
    {0xF000003B, 48, {16, 20, 24, 28, 32, 36, 40, 44}, 0, {}, 0},           // RequestClientData
    {0xF000003C, 36, {16, 20, 24, 28}, 0, {}, 32},                          // SetClientData
    {0xF0000040, 32, {16, 24}, 20, {}, 28},                                 // Text
};
constexpr size_t kKinds = sizeof kLayouts / sizeof kLayouts[0];
// Open's bytes 272 to 295: reserved, the magic 0x50334400, 6, reserved.
constexpr uint8_t kOpenFixed[24] = {0, 0, 0, 0, 0x00, 0x44, 0x33, 0x50, 6};

// One request as its writer takes it.
struct Request {
  size_t kind = 0;
  uint32_t n[8] = {};
  float f = 0.0f;
  bool isNull[2] = {false, false};
  std::string text[2];
  std::string data;

  const Layout& layout() const { return kLayouts[kind]; }
  const char* T(int i) const { return isNull[i] ? nullptr : text[i].c_str(); }
  size_t TextLength(int i) const { return isNull[i] ? 0 : std::strlen(text[i].c_str()); }
  uint32_t Size() const { return layout().size + (layout().unitSizeAt != 0 ? uint32_t(data.size()) : 0); }

  bool Write(uint8_t* r) const {
    namespace e = request_encoding;
    const uint32_t unit = static_cast<uint32_t>(data.size());
    switch (kind) {
      case 0: return e::WriteOpen(r, T(0));
      case 1: return e::WriteAddToDataDefinition(r, n[0], T(0), T(1), n[1], f, n[2]);
      case 2: e::WriteRequestDataOnSimObject(r, n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]); return true;
      case 3: return e::WriteMenuAddItem(r, T(0), n[0], n[1]);
      case 4: return e::WriteMenuAddSubItem(r, n[0], T(0), n[1], n[2]);
      case 5: e::WriteMenuRemoveSubItem(r, n[0], n[1]); return true;
      case 6: return e::WriteMapClientDataNameToId(r, T(0), n[0]);
      case 7: e::WriteCreateClientData(r, n[0], n[1], n[2]); return true;
      case 8: e::WriteAddToClientDataDefinition(r, n[0], n[1], n[2], f, n[3]); return true;
      case 9: e::WriteRequestClientData(r, n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]); return true;
      case 10: e::WriteSetClientData(r, n[0], n[1], n[2], n[3], unit, data.data()); return true;
      default: e::WriteText(r, n[0], f, n[1], unit, data.data()); return true;
    }
  }
};

void CheckSame(const uint8_t* have, const uint8_t* want, size_t size) {
  const size_t at = std::mismatch(have, have + size, want).first - have;
  if (at != size) std::fprintf(stderr, "offset %zu of %zu is %02x, expected %02x\n", at, size, have[at], want[at]);
  FUZZ_CHECK(at == size);
}

// Every byte a writer must produce for `c`, on a zeroed image of c.Size() bytes.
void BuildImage(const Request& c, uint32_t sendId, uint8_t* image) {
  const Layout& l = c.layout();
  const uint32_t header[4] = {c.Size(), 37, l.id, sendId};
  for (int i = 0; i < 4; ++i) Put32(image + 4 * i, header[i]);
  for (int i = 0; i < 8 && l.numbers[i] != 0; ++i) Put32(image + l.numbers[i], c.n[i]);
  if (l.floatAt != 0) Put32(image + l.floatAt, fuzz::BitCast<uint32_t>(c.f));
  for (int i = 0; i < 2 && l.texts[i].at != 0; ++i) {
    std::memcpy(image + l.texts[i].at, c.text[i].data(), std::min<size_t>(c.TextLength(i), 255));
  }
  if (c.kind == 0) std::memcpy(image + 272, kOpenFixed, sizeof kOpenFixed);
  if (l.unitSizeAt != 0) {
    Put32(image + l.unitSizeAt, static_cast<uint32_t>(c.data.size()));
    std::memcpy(image + l.size, c.data.data(), c.data.size());
  }
}

// The exception the decoder must answer, and the argument index it names.
uint32_t ExpectedRejection(const uint8_t* m, size_t size, uint32_t* index) {
  *index = 0;
  if (size < 16 || Le32(m) != size) return hp::kExceptionSizeMismatch;
  if (Le32(m + 4) != 37) return hp::kExceptionVersionMismatch;
  const Layout* l = std::find_if(kLayouts, kLayouts + kKinds, [m](const Layout& l) { return l.id == Le32(m + 8); });
  if (l == kLayouts + kKinds) return hp::kExceptionUnrecognizedId;
  const uint64_t unitSize = l->unitSizeAt != 0 && size >= l->size ? Le32(m + l->unitSizeAt) : 0;
  if (l->size + unitSize != size) return hp::kExceptionSizeMismatch;
  for (const Text& t : l->texts) {
    if (t.at != 0 && std::memchr(m + t.at, 0, 256) == nullptr) {
      *index = t.argument;
      return hp::kExceptionStringNotTerminated;
    }
  }
  if (l == kLayouts && std::memcmp(m + 272, kOpenFixed, sizeof kOpenFixed) != 0) return hp::kExceptionBadOpen;
  return hp::kExceptionNone;
}

// Modes 0 and 1, and each request that mode 2 produces. Returns whether it decoded.
bool CheckDecode(const uint8_t* m, size_t size) {
  const simhost::DecodeResult result = simhost::DecodeRequest(m, size);
  uint32_t index = 0;
  const uint32_t code = ExpectedRejection(m, size, &index);
  FUZZ_CHECK(result.exceptionCode == code && result.argumentIndex == index);
  FUZZ_CHECK(result.ok() == (code == hp::kExceptionNone) && !simhost::DecodeRequest(nullptr, size).ok());
  if (size >= 16) FUZZ_CHECK(result.id == Le32(m + 8) && result.sendId == Le32(m + 12));
  return result.ok();
}

void CheckWriter(fuzz::InputReader& in) {
  Request c;
  c.kind = in.Byte() % kKinds;
  for (uint32_t& v : c.n) v = in.U32();
  c.f = fuzz::BitCast<float>(in.U32());
  for (int i = 0; i < 2; ++i) {
    const uint16_t v = in.U16();
    c.isNull[i] = v == 0xFFFF;
    if (!c.isNull[i]) c.text[i] = in.Text(v % 600);
  }
  c.data = in.Text(in.U16() % 4096);

  const Layout& l = c.layout();
  const uint32_t size = c.Size();
  constexpr uint32_t kSendId = 0x5EADC0DE;
  const auto image = fuzz::Exact(nullptr, size);
  BuildImage(c, kSendId, image.get());
  const auto written = fuzz::Exact(nullptr, size);
  Put32(written.get() + 12, kSendId);
  bool fits = true;
  for (int i = 0; i < 2 && l.texts[i].at != 0; ++i) fits = fits && c.TextLength(i) <= 255;
  FUZZ_CHECK(c.Write(written.get()) == fits);
  if (fits) {
    CheckSame(written.get(), image.get(), size);
    FUZZ_CHECK(CheckDecode(written.get(), size));
    return;
  }
  CheckSame(written.get(), image.get(), 16);
  for (int i = 0; i < 2 && l.texts[i].at != 0; ++i) {
    CheckSame(written.get() + l.texts[i].at, image.get() + l.texts[i].at, 256);
    if (c.TextLength(i) > 255) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InputReader in(data, size);
  if (in.Byte() % 3 == 2) {
    CheckWriter(in);
  } else if (size > 0) {
    CheckDecode(fuzz::Exact(data + 1, size - 1).get(), size - 1);
  }
  return 0;
}
