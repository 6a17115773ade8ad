// The SimConnect wire layouts as this client speaks them: the request header,
// every request's id, size and field offsets, the received header, the received
// kinds and the fields read from them. The client encodes with these values and
// the stand-in simulator decodes with them; nothing else spells out an offset.
// All numbers are little-endian (see wire.h).
#pragma once

#include <cstdint>

namespace protocol {

// ---- Request header: size, version, id, sendId -----------------------------
struct RequestHeader {
  uint32_t size;
  uint32_t version;
  uint32_t id;
  uint32_t sendId;
};
static_assert(sizeof(RequestHeader) == 16, "request header is 16 bytes");

constexpr uint32_t kRequestSizeOffset = 0;
constexpr uint32_t kRequestVersionOffset = 4;
constexpr uint32_t kRequestIdOffset = 8;
constexpr uint32_t kRequestSendIdOffset = 12;
constexpr uint32_t kRequestHeaderSize = 16;
constexpr uint32_t kProtocolVersion = 37;

// Fixed string fields: 255 characters of text and a NUL, zero to the end.
constexpr uint32_t kStringFieldSize = 256;

// ---- Request ids ------------------------------------------------------------
enum RequestId : uint32_t {
  kOpenId = 0xF0000001,
  kAddToDataDefinitionId = 0xF000000C,
  kRequestDataOnSimObjectId = 0xF000000E,
  kMenuAddItemId = 0xF0000031,
  kMenuAddSubItemId = 0xF0000033,
  kMenuRemoveSubItemId = 0xF0000034,
  kMapClientDataNameToIdId = 0xF0000037,
  kCreateClientDataId = 0xF0000038,
  kAddToClientDataDefinitionId = 0xF0000039,
  kRequestClientDataId = 0xF000003B,
  kSetClientDataId = 0xF000003C,
  kTextId = 0xF0000040,
};

// ---- Request bodies: total sizes and field offsets from the message start ----
namespace open {
constexpr uint32_t kSize = 296;
constexpr uint32_t kName = 16;          // text[256]
constexpr uint32_t kReserved272 = 272;  // u32 0
constexpr uint32_t kMagic = 276;        // u32 0x50334400 (bytes 00 44 33 50)
constexpr uint32_t kMagicValue = 0x50334400;
constexpr uint32_t kSix = 280;          // u32 6
constexpr uint32_t kSixValue = 6;
constexpr uint32_t kReserved284 = 284;  // u32 0
constexpr uint32_t kReserved288 = 288;  // u32 0
constexpr uint32_t kReserved292 = 292;  // u32 0
}  // namespace open

namespace add_to_data_definition {
constexpr uint32_t kSize = 544;
constexpr uint32_t kDefinitionId = 16;
constexpr uint32_t kDatumName = 20;  // text[256]
constexpr uint32_t kUnitsName = 276;  // text[256]
constexpr uint32_t kDatumType = 532;
constexpr uint32_t kEpsilon = 536;  // f32
constexpr uint32_t kDatumId = 540;
}  // namespace add_to_data_definition

namespace request_data_on_sim_object {
constexpr uint32_t kSize = 48;
constexpr uint32_t kRequestId = 16;
constexpr uint32_t kDefinitionId = 20;
constexpr uint32_t kObjectId = 24;
constexpr uint32_t kPeriod = 28;
constexpr uint32_t kFlags = 32;
constexpr uint32_t kOrigin = 36;
constexpr uint32_t kInterval = 40;
constexpr uint32_t kLimit = 44;
}  // namespace request_data_on_sim_object

namespace menu_add_item {
constexpr uint32_t kSize = 280;
constexpr uint32_t kText = 16;  // text[256]
constexpr uint32_t kMenuEventId = 272;
constexpr uint32_t kData = 276;
}  // namespace menu_add_item

namespace menu_add_sub_item {
constexpr uint32_t kSize = 284;
constexpr uint32_t kMenuEventId = 16;
constexpr uint32_t kText = 20;  // text[256]
constexpr uint32_t kSubMenuEventId = 276;
constexpr uint32_t kData = 280;
}  // namespace menu_add_sub_item

namespace menu_remove_sub_item {
constexpr uint32_t kSize = 24;
constexpr uint32_t kMenuEventId = 16;
constexpr uint32_t kSubMenuEventId = 20;
}  // namespace menu_remove_sub_item

namespace map_client_data_name_to_id {
constexpr uint32_t kSize = 276;
constexpr uint32_t kName = 16;  // text[256]
constexpr uint32_t kClientDataId = 272;
}  // namespace map_client_data_name_to_id

namespace create_client_data {
constexpr uint32_t kSize = 28;
constexpr uint32_t kClientDataId = 16;
constexpr uint32_t kDataSize = 20;
constexpr uint32_t kFlags = 24;
}  // namespace create_client_data

namespace add_to_client_data_definition {
constexpr uint32_t kSize = 36;
constexpr uint32_t kDefinitionId = 16;
constexpr uint32_t kOffset = 20;
constexpr uint32_t kSizeOrType = 24;
constexpr uint32_t kEpsilon = 28;  // f32
constexpr uint32_t kDatumId = 32;
}  // namespace add_to_client_data_definition

namespace request_client_data {
constexpr uint32_t kSize = 48;
constexpr uint32_t kClientDataId = 16;
constexpr uint32_t kRequestId = 20;
constexpr uint32_t kDefinitionId = 24;
constexpr uint32_t kPeriod = 28;
constexpr uint32_t kFlags = 32;
constexpr uint32_t kOrigin = 36;
constexpr uint32_t kInterval = 40;
constexpr uint32_t kLimit = 44;
}  // namespace request_client_data

namespace set_client_data {
constexpr uint32_t kFixedSize = 36;  // followed by n data bytes
constexpr uint32_t kClientDataId = 16;
constexpr uint32_t kDefinitionId = 20;
constexpr uint32_t kFlags = 24;
constexpr uint32_t kReserved = 28;
constexpr uint32_t kUnitSize = 32;
constexpr uint32_t kData = 36;
}  // namespace set_client_data

namespace text {
constexpr uint32_t kFixedSize = 32;  // followed by n data bytes
constexpr uint32_t kTextType = 16;
constexpr uint32_t kDisplayTime = 20;  // f32 seconds
constexpr uint32_t kEventId = 24;
constexpr uint32_t kUnitSize = 28;
constexpr uint32_t kData = 32;
}  // namespace text

// ---- Received header: size, version, kind -----------------------------------
struct ReceivedHeader {
  uint32_t size;
  uint32_t version;
  uint32_t kind;
};
static_assert(sizeof(ReceivedHeader) == 12, "received header is 12 bytes");

constexpr uint32_t kReceivedSizeOffset = 0;
constexpr uint32_t kReceivedVersionOffset = 4;
constexpr uint32_t kReceivedKindOffset = 8;
constexpr uint32_t kReceivedHeaderSize = 12;

enum ReceivedKind : uint32_t {
  kKindException = 1,
  kKindOpen = 2,
  kKindQuit = 3,
  kKindEvent = 4,
  kKindObjectData = 8,
  kKindClientData = 16,
};

namespace exception_msg {
constexpr uint32_t kExceptionCode = 12;
constexpr uint32_t kSendId = 16;
constexpr uint32_t kIndex = 20;
constexpr uint32_t kSize = 24;
}  // namespace exception_msg

namespace open_reply {
constexpr uint32_t kSize = 308;  // exactly this long
constexpr uint32_t kHostConnectionId = 300;
}  // namespace open_reply

namespace event_msg {
constexpr uint32_t kGroupId = 12;
constexpr uint32_t kEventId = 16;
constexpr uint32_t kData = 20;
constexpr uint32_t kSize = 24;
}  // namespace event_msg

// Object data (kind 8) and client data (kind 16) share one layout.
namespace data_msg {
constexpr uint32_t kRequestId = 12;
constexpr uint32_t kObjectId = 16;
constexpr uint32_t kDefinitionId = 20;
constexpr uint32_t kFlags = 24;
constexpr uint32_t kEntryNumber = 28;
constexpr uint32_t kEntryCount = 32;
constexpr uint32_t kDefinitionCount = 36;
constexpr uint32_t kData = 40;
}  // namespace data_msg

}  // namespace protocol
