// Checking one request message against the shared wire layouts.
#include "request_decoder.h"

#include "host_protocol.h"

namespace simhost {

namespace {

using namespace protocol;

struct Layout {
  uint32_t id;
  const char* name;
  uint32_t size;        // of the fixed part
  uint32_t unitSizeAt;  // of the length of a data block after the fixed part; 0: none
  uint32_t texts[2];    // offsets of the 256-byte text fields, in argument order; 0: none
  uint32_t textArguments[2];
};

const Layout kLayouts[] = {
    {kOpenId, "Open", open::kSize, 0, {open::kName}, {1}},
    {kAddToDataDefinitionId, "AddToDataDefinition", add_to_data_definition::kSize, 0,
     {add_to_data_definition::kDatumName, add_to_data_definition::kUnitsName}, {2, 3}},
    {kRequestDataOnSimObjectId, "RequestDataOnSimObject", request_data_on_sim_object::kSize, 0, {}, {}},
    {kMenuAddItemId, "MenuAddItem", menu_add_item::kSize, 0, {menu_add_item::kText}, {1}},
    {kMenuAddSubItemId, "MenuAddSubItem", menu_add_sub_item::kSize, 0, {menu_add_sub_item::kText}, {2}},
    {kMenuRemoveSubItemId, "MenuRemoveSubItem", menu_remove_sub_item::kSize, 0, {}, {}},
    {kMapClientDataNameToIdId, "MapClientDataNameToID", map_client_data_name_to_id::kSize, 0,
     {map_client_data_name_to_id::kName}, {1}},
    {kCreateClientDataId, "CreateClientData", create_client_data::kSize, 0, {}, {}},
    {kAddToClientDataDefinitionId, "AddToClientDataDefinition", add_to_client_data_definition::kSize, 0, {}, {}},
    {kRequestClientDataId, "RequestClientData", request_client_data::kSize, 0, {}, {}},
    {kSetClientDataId, "SetClientData", set_client_data::kFixedSize, set_client_data::kUnitSize, {}, {}},
    {kTextId, "Text", protocol::text::kFixedSize, protocol::text::kUnitSize, {}, {}},
};

const Layout* Find(uint32_t id) {
  for (const Layout& layout : kLayouts) {
    if (layout.id == id) return &layout;
  }
  return nullptr;
}

}  // namespace

DecodeResult DecodeRequest(const uint8_t* message, size_t size) {
  DecodeResult result;
  result.exceptionCode = host_protocol::kExceptionSizeMismatch;
  if (message == nullptr || size < kRequestHeaderSize) return result;
  result.id = wire::LoadU32(message + kRequestIdOffset);
  result.sendId = wire::LoadU32(message + kRequestSendIdOffset);
  if (wire::LoadU32(message + kRequestSizeOffset) != size) return result;
  const Layout* layout = Find(result.id);
  if (wire::LoadU32(message + kRequestVersionOffset) != kProtocolVersion) {
    result.exceptionCode = host_protocol::kExceptionVersionMismatch;
  } else if (layout == nullptr) {
    result.exceptionCode = host_protocol::kExceptionUnrecognizedId;
  } else if (size < layout->size ||
             uint64_t{layout->size} + (layout->unitSizeAt ? wire::LoadU32(message + layout->unitSizeAt) : 0) != size) {
    result.exceptionCode = host_protocol::kExceptionSizeMismatch;
  } else {
    result.exceptionCode = host_protocol::kExceptionNone;
    for (int i = 0; i < 2 && layout->texts[i] != 0; ++i) {
      if (wire::FixedStringLength(message + layout->texts[i], kStringFieldSize) == kStringFieldSize) {
        result.exceptionCode = host_protocol::kExceptionStringNotTerminated;
        result.argumentIndex = layout->textArguments[i];
        return result;
      }
    }
    const RequestFields f{message};
    if (result.id == kOpenId &&
        (f.U32(open::kReserved272) != 0 || f.U32(open::kMagic) != open::kMagicValue ||
         f.U32(open::kSix) != open::kSixValue || f.U32(open::kReserved284) != 0 || f.U32(open::kReserved288) != 0 ||
         f.U32(open::kReserved292) != 0)) {
      result.exceptionCode = host_protocol::kExceptionBadOpen;
    }
  }
  return result;
}

const char* RequestName(uint32_t id) {
  const Layout* layout = Find(id);
  return layout != nullptr ? layout->name : "unknown";
}

}  // namespace simhost
