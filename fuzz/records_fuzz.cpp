// Fuzz target: the client-data records (HostRequest, VarData, VarDump,
// HostEvent): decoding arbitrary bytes, and building, encoding and decoding
// records from arbitrary field values.
//
// Input: the whole input is first decoded as each of the four records (from a
// buffer of exactly its length). Then, read from the front of the same input:
// u32 tag, u32 command, u32 param, f64 value, u16 n and the n % 1200 bytes of
// a text (filled with a pattern when the input is shorter), which build one
// record of each kind.
//
// Checked:
//   - a decode succeeds exactly when the bytes hold the whole record, and on
//     failure leaves the output untouched;
//   - numbers come from their little-endian offsets; a text field is the
//     bytes up to the first NUL, cut to its width - 1 characters, zero after;
//   - encode(decode(bytes)) gives back the bytes wherever they were kept
//     (numbers, text up to its NUL) and zeros after the text; decoding that
//     again changes nothing;
//   - Make*/SetText cut the text to the field and count what they kept, and a
//     built record survives encode then decode byte for byte;
//   - the value conversions the bridge applies to HostRequest.value are
//     defined for every double.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/exact_buffer.h"
#include "common/fuzz_check.h"
#include "common/input_reader.h"
#include "lvar/records.h"
#include "lvar/truncate.h"

namespace {

using fuzz::Le32;
using fuzz::Le64;

// A text field of `width` bytes at `field`, as decoded from `source`.
void CheckDecodedText(const char* field, size_t width, const uint8_t* source) {
  size_t length = 0;
  while (length + 1 < width && source[length] != 0) ++length;
  FUZZ_CHECK(std::memcmp(field, source, length) == 0);
  for (size_t i = length; i < width; ++i) FUZZ_CHECK(field[i] == 0);
}

// The bytes of an encoded record against the bytes it was decoded from: the
// same wherever the decode kept them, zero after each text's NUL.
void CheckReencoded(const uint8_t* encoded, const uint8_t* source, size_t size, size_t textOffset,
                    size_t textWidth) {
  FUZZ_CHECK(std::memcmp(encoded, source, textOffset) == 0);
  const uint8_t* text = source + textOffset;
  size_t length = 0;
  while (length + 1 < textWidth && text[length] != 0) ++length;
  FUZZ_CHECK(std::memcmp(encoded + textOffset, text, length) == 0);
  for (size_t i = length; i < textWidth; ++i) FUZZ_CHECK(encoded[textOffset + i] == 0);
  size_t tail = textOffset + textWidth;
  FUZZ_CHECK(std::memcmp(encoded + tail, source + tail, size - tail) == 0);
}

// Decode, check the fields, re-encode, decode again: one record type.
template <typename Record, typename Decode, typename Encode, typename CheckFields>
void CheckDecode(const fuzz::ExactBuffer& input, size_t recordSize, size_t textOffset, size_t textWidth,
                 Decode decode, Encode encode, CheckFields checkFields) {
  Record record;
  std::memset(&record, 0xA5, sizeof record);
  Record untouched = record;
  bool decoded = decode(input.data(), input.size(), &record);
  FUZZ_CHECK(decoded == (input.size() >= recordSize));
  if (!decoded) {
    FUZZ_CHECK(std::memcmp(&record, &untouched, sizeof record) == 0);
    return;
  }
  checkFields(record, input.data());
  CheckDecodedText(reinterpret_cast<const char*>(&record) + textOffset, textWidth, input.data() + textOffset);

  fuzz::ExactBuffer encoded(recordSize);
  encode(record, encoded.data());
  CheckReencoded(encoded.data(), input.data(), recordSize, textOffset, textWidth);

  Record again;
  FUZZ_CHECK(decode(encoded.data(), encoded.size(), &again));
  FUZZ_CHECK(std::memcmp(&again, &record, sizeof record) == 0);
}

uint64_t Bits(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

void DecodeAll(const fuzz::ExactBuffer& input) {
  CheckDecode<records::HostRequest>(input, records::kHostRequestSize, 12, records::kHostRequestNameSize,
                                    records::DecodeHostRequest, records::EncodeHostRequest,
                                    [](const records::HostRequest& r, const uint8_t* b) {
                                      FUZZ_CHECK(r.tag == Le32(b + 0));
                                      FUZZ_CHECK(r.command == Le32(b + 4));
                                      FUZZ_CHECK(r.param == Le32(b + 8));
                                      FUZZ_CHECK(Bits(r.value) == Le64(b + 268));
                                    });
  CheckDecode<records::VarData>(input, records::kVarDataSize, 12, records::kVarDataNameSize, records::DecodeVarData,
                                records::EncodeVarData, [](const records::VarData& r, const uint8_t* b) {
                                  FUZZ_CHECK(Bits(r.value) == Le64(b + 0));
                                  FUZZ_CHECK(r.isMjc == Le32(b + 8));
                                });
  CheckDecode<records::VarDump>(input, records::kVarDumpSize, 12, records::kVarDumpNamesSize,
                                records::DecodeVarDump, records::EncodeVarDump,
                                [](const records::VarDump& r, const uint8_t* b) {
                                  FUZZ_CHECK(r.format == Le32(b + 0));
                                  FUZZ_CHECK(r.firstId == Le32(b + 4));
                                  FUZZ_CHECK(r.totalCount == Le32(b + 8));
                                });
  CheckDecode<records::HostEvent>(input, records::kHostEventSize, 20, records::kHostEventTextSize,
                                  records::DecodeHostEvent, records::EncodeHostEvent,
                                  [](const records::HostEvent& r, const uint8_t* b) {
                                    FUZZ_CHECK(r.reference == Le32(b + 0));
                                    FUZZ_CHECK(r.code == Le32(b + 4));
                                    FUZZ_CHECK(r.marker == Le32(b + 8));
                                    FUZZ_CHECK(Bits(r.value) == Le64(b + 12));
                                  });
}

// A built text field: the first min(strlen, width - 1) characters, then zeros.
void CheckBuiltText(const char* field, size_t width, const std::string& text) {
  size_t expected = std::strlen(text.c_str());
  if (expected > width - 1) expected = width - 1;
  FUZZ_CHECK(records::TextLength(field, width) == expected);
  FUZZ_CHECK(std::memcmp(field, text.data(), expected) == 0);
  for (size_t i = expected; i < width; ++i) FUZZ_CHECK(field[i] == 0);
}

template <typename Record, typename Encode, typename Decode>
void CheckRoundTrip(const Record& record, size_t recordSize, Encode encode, Decode decode) {
  fuzz::ExactBuffer encoded(recordSize);
  encode(record, encoded.data());
  Record decoded;
  FUZZ_CHECK(decode(encoded.data(), encoded.size(), &decoded));
  FUZZ_CHECK(std::memcmp(&decoded, &record, sizeof record) == 0);
}

void CheckConversions(double value) {
  // TruncateToInt32: toward zero; NaN and values outside the 32-bit signed
  // range give INT32_MIN.
  int32_t expected = INT32_MIN;
  if (!std::isnan(value)) {
    double t = std::trunc(value);
    if (t >= -2147483648.0 && t <= 2147483647.0) expected = static_cast<int32_t>(t);
  }
  FUZZ_CHECK(TruncateToInt32(value) == expected);
  // TruncateToInterval is only called for values above 0.0.
  if (value > 0.0) {
    double t = std::trunc(value);
    uint32_t interval = t >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(t);
    FUZZ_CHECK(TruncateToInterval(value) == interval);
  }
}

void BuildAll(fuzz::InputReader& in) {
  const uint32_t tag = in.U32();
  const uint32_t command = in.U32();
  const uint32_t param = in.U32();
  const double value = in.F64();
  const std::string text = in.Text(in.U16() % 1200);
  const char* name = text.c_str();

  records::HostRequest request = records::MakeHostRequest(tag, command, param, name, value);
  FUZZ_CHECK(request.tag == tag && request.command == command && request.param == param);
  FUZZ_CHECK(Bits(request.value) == Bits(value));
  CheckBuiltText(request.name, sizeof request.name, text);
  CheckRoundTrip(request, records::kHostRequestSize, records::EncodeHostRequest, records::DecodeHostRequest);
  CheckConversions(value);

  records::VarData data = records::MakeVarData(value, (tag & 1) != 0, name);
  FUZZ_CHECK(data.isMjc == (tag & 1));
  CheckBuiltText(data.name, sizeof data.name, text);
  CheckRoundTrip(data, records::kVarDataSize, records::EncodeVarData, records::DecodeVarData);

  records::HostEvent event = records::MakeHostEvent(tag, command, value, name);
  FUZZ_CHECK(event.marker == records::kHostEventMarker);
  CheckBuiltText(event.text, sizeof event.text, text);
  CheckRoundTrip(event, records::kHostEventSize, records::EncodeHostEvent, records::DecodeHostEvent);

  records::VarDump dump = records::MakeVarDump(tag, param);
  FUZZ_CHECK(dump.format == records::kVarDumpFormat && dump.firstId == tag && dump.totalCount == param);
  FUZZ_CHECK(records::TextLength(dump.names, sizeof dump.names) == 0);
  // A list of names three times the text, past the 4000-byte field when long.
  std::string list = text + ";" + text + ";" + text + ";";
  size_t stored = records::SetText(dump.names, sizeof dump.names, list.c_str());
  size_t expected = std::strlen(list.c_str());
  FUZZ_CHECK(stored == (expected < sizeof dump.names ? expected : sizeof dump.names - 1));
  CheckBuiltText(dump.names, sizeof dump.names, list);
  CheckRoundTrip(dump, records::kVarDumpSize, records::EncodeVarDump, records::DecodeVarDump);

  // A null text leaves the field all zero.
  records::HostRequest empty = records::MakeHostRequest(tag, command, param, nullptr, value);
  CheckBuiltText(empty.name, sizeof empty.name, std::string());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ExactBuffer input(data, size);
  DecodeAll(input);
  fuzz::InputReader in(data, size);
  BuildAll(in);
  return 0;
}
