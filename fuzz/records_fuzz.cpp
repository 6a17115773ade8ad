// Fuzz target: the client-data records (HostRequest, VarData, VarDump,
// HostEvent) and the conversions the bridge applies to HostRequest.value.
//
// Input: decoded whole as each of the four records, from a buffer of exactly
// its length; then, from its front: u32 a, b and c, the u64 bits of a double,
// u16 n and a text of n % 4200 bytes (the input's, then a filler pattern), from
// which one record of each kind is built.
// Checked against byte images at the records' fixed offsets: a decode succeeds
// exactly when the bytes hold the whole record, else leaves its output alone;
// the record is the bytes with its text cut at the first NUL or width - 1 and
// zero after; encoding gives the image back and decoding it again changes
// nothing. Make* and SetText keep the numbers and the text cut to width - 1
// (SetText and TextLength count it). TruncateToInt32 and TruncateToInterval
// agree with std::trunc for every double.
#include <cmath>

#include "common/fuzz.h"
#include "lvar/records.h"
#include "lvar/truncate.h"

namespace {

template <typename R>
struct Codec {
  size_t textAt;
  size_t textWidth;
  bool (*decode)(const uint8_t*, size_t, R*);
  void (*encode)(const R&, uint8_t*);
};
const Codec<records::HostRequest> kHostRequest{12, 256, records::DecodeHostRequest, records::EncodeHostRequest};
const Codec<records::VarData> kVarData{12, 256, records::DecodeVarData, records::EncodeVarData};
const Codec<records::VarDump> kVarDump{12, 4000, records::DecodeVarDump, records::EncodeVarDump};
const Codec<records::HostEvent> kHostEvent{20, 1024, records::DecodeHostEvent, records::EncodeHostEvent};

// Decodes R from `size` bytes and checks it and its encoding against the image.
template <typename R>
void CheckDecode(const Codec<R>& codec, const uint8_t* bytes, size_t size) {
  R record;
  std::memset(&record, 0xA5, sizeof record);
  const R untouched = record;
  const bool decoded = codec.decode(bytes, size, &record);
  FUZZ_CHECK(decoded == (size >= sizeof(R)));
  if (!decoded) {
    FUZZ_CHECK(std::memcmp(&record, &untouched, sizeof record) == 0);
    return;
  }
  const auto image = fuzz::Exact(bytes, sizeof(R));
  char* text = reinterpret_cast<char*>(image.get() + codec.textAt);
  const size_t length = strnlen(text, codec.textWidth - 1);
  std::memset(text + length, 0, codec.textWidth - length);
  FUZZ_CHECK(std::memcmp(&record, image.get(), sizeof(R)) == 0);

  const auto encoded = fuzz::Exact(nullptr, sizeof(R));
  codec.encode(record, encoded.get());
  FUZZ_CHECK(std::memcmp(encoded.get(), image.get(), sizeof(R)) == 0);
  R again;
  FUZZ_CHECK(codec.decode(encoded.get(), sizeof(R), &again));
  FUZZ_CHECK(std::memcmp(&again, &record, sizeof record) == 0);
}

// A record's expected bytes, field by field; Text returns the characters kept (at most width - 1).
struct Image {
  std::unique_ptr<uint8_t[]> bytes;
  explicit Image(size_t size) : bytes(fuzz::Exact(nullptr, size)) {}
  Image& U32(size_t at, uint32_t v) { fuzz::Put32(&bytes[at], v); return *this; }
  Image& F64(size_t at, double v) {
    const auto bits = fuzz::BitCast<uint64_t>(v);
    return U32(at, static_cast<uint32_t>(bits)).U32(at + 4, static_cast<uint32_t>(bits >> 32));
  }
  size_t Text(size_t at, size_t width, const std::string& text) {
    const size_t length = std::min(std::strlen(text.c_str()), width - 1);
    std::memcpy(&bytes[at], text.data(), length);
    return length;
  }
};

// A built record against its image, then the image through decode and encode.
template <typename R>
void CheckBuilt(const Codec<R>& codec, const R& record, const Image& image) {
  FUZZ_CHECK(std::memcmp(&record, image.bytes.get(), sizeof(R)) == 0);
  CheckDecode(codec, image.bytes.get(), sizeof(R));
}

void CheckConversions(double value) {
  const double t = std::trunc(value);
  const bool inRange = t >= -2147483648.0 && t <= 2147483647.0;  // false for NaN
  FUZZ_CHECK(TruncateToInt32(value) == (inRange ? static_cast<int32_t>(t) : INT32_MIN));
  // TruncateToInterval is only called for values above 0.0.
  if (value > 0.0) FUZZ_CHECK(TruncateToInterval(value) == (t >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(t)));
}

void BuildAll(fuzz::InputReader& in) {
  const uint32_t a = in.U32(), b = in.U32(), c = in.U32();
  const uint32_t low = in.U32();
  const double value = fuzz::BitCast<double>(low | uint64_t{in.U32()} << 32);
  const std::string text = in.Text(in.U16() % 4200);
  const char* name = text.c_str();
  CheckConversions(value);

  Image request(records::kHostRequestSize);
  request.U32(0, a).U32(4, b).U32(8, c).F64(268, value);
  const size_t kept = request.Text(12, 256, text);
  const records::HostRequest made = records::MakeHostRequest(a, b, c, name, value);
  FUZZ_CHECK(records::TextLength(made.name, sizeof made.name) == kept);
  CheckBuilt(kHostRequest, made, request);
  Image unnamed(records::kHostRequestSize);  // a null name leaves the field zero
  unnamed.U32(0, a).U32(4, b).U32(8, c).F64(268, value);
  CheckBuilt(kHostRequest, records::MakeHostRequest(a, b, c, nullptr, value), unnamed);

  Image data(records::kVarDataSize);
  data.F64(0, value).U32(8, a & 1).Text(12, 256, text);
  CheckBuilt(kVarData, records::MakeVarData(value, (a & 1) != 0, name), data);

  Image event(records::kHostEventSize);
  event.U32(0, a).U32(4, b).U32(8, records::kHostEventMarker).F64(12, value).Text(20, 1024, text);
  CheckBuilt(kHostEvent, records::MakeHostEvent(a, b, value, name), event);

  Image dump(records::kVarDumpSize);
  dump.U32(0, records::kVarDumpFormat).U32(4, a).U32(8, c);
  records::VarDump chunk = records::MakeVarDump(a, c);
  CheckBuilt(kVarDump, chunk, dump);
  const size_t listed = dump.Text(12, 4000, text);
  FUZZ_CHECK(records::SetText(chunk.names, sizeof chunk.names, name) == listed);
  FUZZ_CHECK(records::TextLength(chunk.names, sizeof chunk.names) == listed);
  CheckBuilt(kVarDump, chunk, dump);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto input = fuzz::Exact(data, size);
  CheckDecode(kHostRequest, input.get(), size);
  CheckDecode(kVarData, input.get(), size);
  CheckDecode(kVarDump, input.get(), size);
  CheckDecode(kHostEvent, input.get(), size);
  fuzz::InputReader in(data, size);
  BuildAll(in);
  return 0;
}
