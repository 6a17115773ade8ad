// Fuzz target: the client's request writers (request_encoding), each into a
// zeroed buffer of exactly the request's size, with texts from empty to well
// past the 255 characters a field holds (layout of the input: request_case.h).
//
// Checked:
//   - no writer touches a byte outside its buffer (AddressSanitizer) or the
//     sendId at offset 12, which the caller fills in;
//   - a writer with texts returns true exactly when every text fits;
//   - when it does, the whole buffer equals an image built here field by
//     field from the wire layouts: header size, version 37 and id, each number
//     at its offset, each text followed by zeros to the end of its field, the
//     data block after the fixed part, and zero everywhere else;
//   - when a text does not fit, the header is written and that field holds the
//     text's first 255 characters and a NUL.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/exact_buffer.h"
#include "common/fuzz_check.h"
#include "common/input_reader.h"
#include "common/request_case.h"
#include "simconnect/protocol.h"

namespace {

using fuzz::RequestCase;

constexpr uint32_t kSendIdMark = 0x5EADC0DE;

void Put32(uint8_t* image, uint32_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) image[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutFloat(uint8_t* image, uint32_t offset, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  Put32(image, offset, bits);
}

void PutText(uint8_t* image, uint32_t offset, const RequestCase& c, int i) {
  size_t length = c.TextLength(i);
  if (length > 255) length = 255;
  if (length != 0) std::memcpy(image + offset, c.text[i].data(), length);
}

// The offsets of the request's text fields, in argument order.
void TextOffsets(const RequestCase& c, uint32_t* offsets) {
  namespace p = protocol;
  switch (c.kind) {
    case fuzz::kOpen: offsets[0] = p::open::kName; break;
    case fuzz::kAddToDataDefinition:
      offsets[0] = p::add_to_data_definition::kDatumName;
      offsets[1] = p::add_to_data_definition::kUnitsName;
      break;
    case fuzz::kMenuAddItem: offsets[0] = p::menu_add_item::kText; break;
    case fuzz::kMenuAddSubItem: offsets[0] = p::menu_add_sub_item::kText; break;
    case fuzz::kMapClientDataNameToId: offsets[0] = p::map_client_data_name_to_id::kName; break;
    default: break;
  }
}

// The bytes the request must have, on a zeroed image of c.Size() bytes.
void BuildImage(const RequestCase& c, uint8_t* image) {
  namespace p = protocol;
  Put32(image, p::kRequestSizeOffset, c.Size());
  Put32(image, p::kRequestVersionOffset, 37);
  Put32(image, p::kRequestIdOffset, c.Id());
  Put32(image, p::kRequestSendIdOffset, kSendIdMark);
  uint32_t texts[2] = {};
  TextOffsets(c, texts);
  for (uint32_t i = 0; i < c.TextCount(); ++i) PutText(image, texts[i], c, static_cast<int>(i));
  const uint32_t* n = c.n;
  switch (c.kind) {
    case fuzz::kOpen:
      Put32(image, p::open::kMagic, 0x50334400);
      Put32(image, p::open::kSix, 6);
      break;
    case fuzz::kAddToDataDefinition: {
      namespace f = p::add_to_data_definition;
      Put32(image, f::kDefinitionId, n[0]);
      Put32(image, f::kDatumType, n[1]);
      PutFloat(image, f::kEpsilon, c.epsilon);
      Put32(image, f::kDatumId, n[2]);
      break;
    }
    case fuzz::kRequestDataOnSimObject: {
      namespace f = p::request_data_on_sim_object;
      const uint32_t at[8] = {f::kRequestId, f::kDefinitionId, f::kObjectId, f::kPeriod,
                              f::kFlags,     f::kOrigin,       f::kInterval, f::kLimit};
      for (int i = 0; i < 8; ++i) Put32(image, at[i], n[i]);
      break;
    }
    case fuzz::kMenuAddItem:
      Put32(image, p::menu_add_item::kMenuEventId, n[0]);
      Put32(image, p::menu_add_item::kData, n[1]);
      break;
    case fuzz::kMenuAddSubItem:
      Put32(image, p::menu_add_sub_item::kMenuEventId, n[0]);
      Put32(image, p::menu_add_sub_item::kSubMenuEventId, n[1]);
      Put32(image, p::menu_add_sub_item::kData, n[2]);
      break;
    case fuzz::kMenuRemoveSubItem:
      Put32(image, p::menu_remove_sub_item::kMenuEventId, n[0]);
      Put32(image, p::menu_remove_sub_item::kSubMenuEventId, n[1]);
      break;
    case fuzz::kMapClientDataNameToId:
      Put32(image, p::map_client_data_name_to_id::kClientDataId, n[0]);
      break;
    case fuzz::kCreateClientData:
      Put32(image, p::create_client_data::kClientDataId, n[0]);
      Put32(image, p::create_client_data::kDataSize, n[1]);
      Put32(image, p::create_client_data::kFlags, n[2]);
      break;
    case fuzz::kAddToClientDataDefinition: {
      namespace f = p::add_to_client_data_definition;
      Put32(image, f::kDefinitionId, n[0]);
      Put32(image, f::kOffset, n[1]);
      Put32(image, f::kSizeOrType, n[2]);
      PutFloat(image, f::kEpsilon, c.epsilon);
      Put32(image, f::kDatumId, n[3]);
      break;
    }
    case fuzz::kRequestClientData: {
      namespace f = p::request_client_data;
      const uint32_t at[8] = {f::kClientDataId, f::kRequestId, f::kDefinitionId, f::kPeriod,
                              f::kFlags,        f::kOrigin,    f::kInterval,     f::kLimit};
      for (int i = 0; i < 8; ++i) Put32(image, at[i], n[i]);
      break;
    }
    case fuzz::kSetClientData: {
      namespace f = p::set_client_data;
      Put32(image, f::kClientDataId, n[0]);
      Put32(image, f::kDefinitionId, n[1]);
      Put32(image, f::kFlags, n[2]);
      Put32(image, f::kReserved, n[3]);
      Put32(image, f::kUnitSize, static_cast<uint32_t>(c.data.size()));
      if (!c.data.empty()) std::memcpy(image + f::kData, c.data.data(), c.data.size());
      break;
    }
    case fuzz::kText:
    default: {
      namespace f = p::text;
      Put32(image, f::kTextType, n[0]);
      PutFloat(image, f::kDisplayTime, c.epsilon);
      Put32(image, f::kEventId, n[1]);
      Put32(image, f::kUnitSize, static_cast<uint32_t>(c.data.size()));
      if (!c.data.empty()) std::memcpy(image + f::kData, c.data.data(), c.data.size());
      break;
    }
  }
}

void ReportDifference(const uint8_t* actual, const uint8_t* expected, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (actual[i] != expected[i]) {
      std::fprintf(stderr, "first difference at offset %zu: written %02x, expected %02x\n", i, actual[i],
                   expected[i]);
      return;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InputReader in(data, size);
  const RequestCase c = fuzz::ReadRequestCase(in);

  fuzz::ExactBuffer request(c.Size());
  Put32(request.data(), protocol::kRequestSendIdOffset, kSendIdMark);
  const bool written = c.Write(request.data());
  FUZZ_CHECK(written == c.TextsFit());

  const uint8_t* r = request.data();
  FUZZ_CHECK(fuzz::Le32(r + protocol::kRequestSizeOffset) == c.Size());
  FUZZ_CHECK(fuzz::Le32(r + protocol::kRequestVersionOffset) == 37);
  FUZZ_CHECK(fuzz::Le32(r + protocol::kRequestIdOffset) == c.Id());
  FUZZ_CHECK(fuzz::Le32(r + protocol::kRequestSendIdOffset) == kSendIdMark);

  if (written) {
    fuzz::ExactBuffer image(c.Size());
    BuildImage(c, image.data());
    if (std::memcmp(r, image.data(), c.Size()) != 0) {
      ReportDifference(r, image.data(), c.Size());
      FUZZ_CHECK(false);
    }
    return 0;
  }

  // The first text that does not fit holds its first 255 characters and a NUL;
  // the texts before it are whole.
  uint32_t texts[2] = {};
  TextOffsets(c, texts);
  for (uint32_t i = 0; i < c.TextCount(); ++i) {
    const uint8_t* field = r + texts[i];
    size_t kept = c.TextLength(static_cast<int>(i));
    bool fits = kept <= 255;
    if (!fits) kept = 255;
    FUZZ_CHECK(std::memcmp(field, c.text[i].data(), kept) == 0);
    for (size_t k = kept; k < protocol::kStringFieldSize; ++k) FUZZ_CHECK(field[k] == 0);
    if (!fits) break;
  }
  return 0;
}
