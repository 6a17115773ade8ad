// One client request built from fuzz input: which of the twelve requests, its
// numbers, its texts (null, short, 255 characters, or longer than the field)
// and its data block. Shared by the encoding target and the decoding target's
// round trip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/input_reader.h"
#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"

namespace fuzz {

enum RequestKind : uint32_t {
  kOpen,
  kAddToDataDefinition,
  kRequestDataOnSimObject,
  kMenuAddItem,
  kMenuAddSubItem,
  kMenuRemoveSubItem,
  kMapClientDataNameToId,
  kCreateClientData,
  kAddToClientDataDefinition,
  kRequestClientData,
  kSetClientData,
  kText,
  kRequestKinds,
};

struct RequestCase {
  RequestKind kind = kOpen;
  uint32_t n[8] = {};
  float epsilon = 0.0f;
  bool isNull[2] = {false, false};
  std::string text[2];
  std::string data;  // SetClientData and Text: the data block

  const char* Text(int i) const { return isNull[i] ? nullptr : text[i].c_str(); }

  // Characters the writer stores of text i: the text up to its first NUL.
  size_t TextLength(int i) const { return isNull[i] ? 0 : std::char_traits<char>::length(text[i].c_str()); }

  uint32_t TextCount() const {
    switch (kind) {
      case kAddToDataDefinition: return 2;
      case kOpen:
      case kMenuAddItem:
      case kMenuAddSubItem:
      case kMapClientDataNameToId: return 1;
      default: return 0;
    }
  }

  // Whether every text fits its 256-byte field (255 characters and a NUL).
  bool TextsFit() const {
    for (uint32_t i = 0; i < TextCount(); ++i) {
      if (TextLength(i) > 255) return false;
    }
    return true;
  }

  uint32_t Size() const {
    namespace p = protocol;
    switch (kind) {
      case kOpen: return p::open::kSize;
      case kAddToDataDefinition: return p::add_to_data_definition::kSize;
      case kRequestDataOnSimObject: return p::request_data_on_sim_object::kSize;
      case kMenuAddItem: return p::menu_add_item::kSize;
      case kMenuAddSubItem: return p::menu_add_sub_item::kSize;
      case kMenuRemoveSubItem: return p::menu_remove_sub_item::kSize;
      case kMapClientDataNameToId: return p::map_client_data_name_to_id::kSize;
      case kCreateClientData: return p::create_client_data::kSize;
      case kAddToClientDataDefinition: return p::add_to_client_data_definition::kSize;
      case kRequestClientData: return p::request_client_data::kSize;
      case kSetClientData: return p::set_client_data::kFixedSize + static_cast<uint32_t>(data.size());
      case kText:
      default: return p::text::kFixedSize + static_cast<uint32_t>(data.size());
    }
  }

  uint32_t Id() const {
    namespace p = protocol;
    static const uint32_t kIds[kRequestKinds] = {
        p::kOpenId,           p::kAddToDataDefinitionId,       p::kRequestDataOnSimObjectId, p::kMenuAddItemId,
        p::kMenuAddSubItemId, p::kMenuRemoveSubItemId,         p::kMapClientDataNameToIdId,  p::kCreateClientDataId,
        p::kAddToClientDataDefinitionId, p::kRequestClientDataId, p::kSetClientDataId,       p::kTextId};
    return kIds[kind];
  }

  // Calls the request's writer on a zeroed buffer of Size() bytes; returns
  // what the writer returns (true for writers without texts).
  bool Write(uint8_t* r) const {
    namespace e = request_encoding;
    const auto unitSize = static_cast<uint32_t>(data.size());
    switch (kind) {
      case kOpen: return e::WriteOpen(r, Text(0));
      case kAddToDataDefinition: return e::WriteAddToDataDefinition(r, n[0], Text(0), Text(1), n[1], epsilon, n[2]);
      case kRequestDataOnSimObject:
        e::WriteRequestDataOnSimObject(r, n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]);
        return true;
      case kMenuAddItem: return e::WriteMenuAddItem(r, Text(0), n[0], n[1]);
      case kMenuAddSubItem: return e::WriteMenuAddSubItem(r, n[0], Text(0), n[1], n[2]);
      case kMenuRemoveSubItem: e::WriteMenuRemoveSubItem(r, n[0], n[1]); return true;
      case kMapClientDataNameToId: return e::WriteMapClientDataNameToId(r, Text(0), n[0]);
      case kCreateClientData: e::WriteCreateClientData(r, n[0], n[1], n[2]); return true;
      case kAddToClientDataDefinition:
        e::WriteAddToClientDataDefinition(r, n[0], n[1], n[2], epsilon, n[3]);
        return true;
      case kRequestClientData:
        e::WriteRequestClientData(r, n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]);
        return true;
      case kSetClientData:
        e::WriteSetClientData(r, n[0], n[1], n[2], n[3], unitSize, data.data());
        return true;
      case kText:
      default:
        e::WriteText(r, n[0], epsilon, n[1], unitSize, data.data());
        return true;
    }
  }
};

// Input layout: kind byte (mod 12), eight u32, f32, then for each of two
// texts a u16 v (0xFFFF: null; otherwise v % 600 characters, taken from the
// input and then from a pattern), then a u16 m and m % 4096 data bytes.
inline RequestCase ReadRequestCase(InputReader& in) {
  RequestCase c;
  c.kind = static_cast<RequestKind>(in.Byte() % kRequestKinds);
  for (uint32_t& v : c.n) v = in.U32();
  c.epsilon = in.F32();
  for (int i = 0; i < 2; ++i) {
    uint16_t v = in.U16();
    c.isNull[i] = v == 0xFFFF;
    if (!c.isNull[i]) c.text[i] = in.Text(v % 600);
  }
  c.data = in.Text(in.U16() % 4096);
  return c;
}

}  // namespace fuzz
