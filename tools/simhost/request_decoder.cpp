// Decoding one request message through the shared wire layouts.
#include "request_decoder.h"

#include "host_protocol.h"
#include "simconnect/protocol.h"
#include "simconnect/wire.h"

namespace simhost {

namespace {

using namespace protocol;

// Reads fields of one message whose size has already been checked against the
// layout, so every offset handed to it lies inside the message.
class FieldReader {
 public:
  FieldReader(const uint8_t* message, DecodeResult& result) : message_(message), result_(result) {}

  uint32_t U32(uint32_t offset) const { return wire::LoadU32(message_ + offset); }
  float F32(uint32_t offset) const { return wire::LoadF32(message_ + offset); }
  const uint8_t* At(uint32_t offset) const { return message_ + offset; }

  // The text of a 256-byte field; records a rejection naming `argumentIndex`
  // when the field holds no NUL.
  std::string Text(uint32_t offset, uint32_t argumentIndex) {
    size_t length = wire::FixedStringLength(message_ + offset, kStringFieldSize);
    if (length == kStringFieldSize) {
      Reject(host_protocol::kExceptionStringNotTerminated, argumentIndex);
      return std::string();
    }
    return std::string(reinterpret_cast<const char*>(message_ + offset), length);
  }

  void Reject(uint32_t code, uint32_t argumentIndex) {
    if (result_.exceptionCode != host_protocol::kExceptionNone) return;  // the first fault wins
    result_.exceptionCode = code;
    result_.argumentIndex = argumentIndex;
  }

 private:
  const uint8_t* message_;
  DecodeResult& result_;
};

// The size that a request of this id must have; 0 for an unknown id. For the
// two requests that carry a data block, the size follows from the unit size at
// `unitSizeOffset`, which lies inside the fixed part already checked.
uint32_t ExpectedSize(uint32_t id, const uint8_t* message, size_t size) {
  switch (id) {
    case kOpenId: return protocol::open::kSize;
    case kAddToDataDefinitionId: return add_to_data_definition::kSize;
    case kRequestDataOnSimObjectId: return request_data_on_sim_object::kSize;
    case kMenuAddItemId: return menu_add_item::kSize;
    case kMenuAddSubItemId: return menu_add_sub_item::kSize;
    case kMenuRemoveSubItemId: return menu_remove_sub_item::kSize;
    case kMapClientDataNameToIdId: return map_client_data_name_to_id::kSize;
    case kCreateClientDataId: return create_client_data::kSize;
    case kAddToClientDataDefinitionId: return add_to_client_data_definition::kSize;
    case kRequestClientDataId: return request_client_data::kSize;
    case kSetClientDataId: {
      if (size < set_client_data::kFixedSize) return set_client_data::kFixedSize;
      uint64_t total = uint64_t{set_client_data::kFixedSize} + wire::LoadU32(message + set_client_data::kUnitSize);
      return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(total);
    }
    case kTextId: {
      if (size < protocol::text::kFixedSize) return protocol::text::kFixedSize;
      uint64_t total = uint64_t{protocol::text::kFixedSize} + wire::LoadU32(message + protocol::text::kUnitSize);
      return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(total);
    }
    default:
      return 0;
  }
}

RequestBody DecodeBody(uint32_t id, FieldReader& r) {
  switch (id) {
    case kOpenId: {
      OpenRequest body{r.Text(protocol::open::kName, 1)};
      if (r.U32(protocol::open::kReserved272) != 0 || r.U32(protocol::open::kMagic) != protocol::open::kMagicValue ||
          r.U32(protocol::open::kSix) != protocol::open::kSixValue || r.U32(protocol::open::kReserved284) != 0 ||
          r.U32(protocol::open::kReserved288) != 0 || r.U32(protocol::open::kReserved292) != 0) {
        r.Reject(host_protocol::kExceptionBadOpen, 0);
      }
      return body;
    }
    case kAddToDataDefinitionId: {
      namespace f = add_to_data_definition;
      AddToDataDefinitionRequest body;
      body.definitionId = r.U32(f::kDefinitionId);
      body.datumName = r.Text(f::kDatumName, 2);
      body.unitsName = r.Text(f::kUnitsName, 3);
      body.datumType = r.U32(f::kDatumType);
      body.epsilon = r.F32(f::kEpsilon);
      body.datumId = r.U32(f::kDatumId);
      return body;
    }
    case kRequestDataOnSimObjectId: {
      namespace f = request_data_on_sim_object;
      return RequestDataOnSimObjectRequest{r.U32(f::kRequestId), r.U32(f::kDefinitionId), r.U32(f::kObjectId),
                                           r.U32(f::kPeriod),    r.U32(f::kFlags),        r.U32(f::kOrigin),
                                           r.U32(f::kInterval),  r.U32(f::kLimit)};
    }
    case kMenuAddItemId: {
      namespace f = menu_add_item;
      MenuAddItemRequest body;
      body.text = r.Text(f::kText, 1);
      body.menuEventId = r.U32(f::kMenuEventId);
      body.data = r.U32(f::kData);
      return body;
    }
    case kMenuAddSubItemId: {
      namespace f = menu_add_sub_item;
      MenuAddSubItemRequest body;
      body.menuEventId = r.U32(f::kMenuEventId);
      body.text = r.Text(f::kText, 2);
      body.subMenuEventId = r.U32(f::kSubMenuEventId);
      body.data = r.U32(f::kData);
      return body;
    }
    case kMenuRemoveSubItemId: {
      namespace f = menu_remove_sub_item;
      return MenuRemoveSubItemRequest{r.U32(f::kMenuEventId), r.U32(f::kSubMenuEventId)};
    }
    case kMapClientDataNameToIdId: {
      namespace f = map_client_data_name_to_id;
      MapClientDataNameToIdRequest body;
      body.name = r.Text(f::kName, 1);
      body.clientDataId = r.U32(f::kClientDataId);
      return body;
    }
    case kCreateClientDataId: {
      namespace f = create_client_data;
      return CreateClientDataRequest{r.U32(f::kClientDataId), r.U32(f::kDataSize), r.U32(f::kFlags)};
    }
    case kAddToClientDataDefinitionId: {
      namespace f = add_to_client_data_definition;
      return AddToClientDataDefinitionRequest{r.U32(f::kDefinitionId), r.U32(f::kOffset), r.U32(f::kSizeOrType),
                                              r.F32(f::kEpsilon), r.U32(f::kDatumId)};
    }
    case kRequestClientDataId: {
      namespace f = request_client_data;
      return RequestClientDataRequest{r.U32(f::kClientDataId), r.U32(f::kRequestId), r.U32(f::kDefinitionId),
                                      r.U32(f::kPeriod),       r.U32(f::kFlags),     r.U32(f::kOrigin),
                                      r.U32(f::kInterval),     r.U32(f::kLimit)};
    }
    case kSetClientDataId: {
      namespace f = set_client_data;
      return SetClientDataRequest{r.U32(f::kClientDataId), r.U32(f::kDefinitionId), r.U32(f::kFlags),
                                  r.U32(f::kReserved),     r.U32(f::kUnitSize),     r.At(f::kData)};
    }
    default: {  // kTextId: the only id left after ExpectedSize
      namespace f = protocol::text;
      return TextRequest{r.U32(f::kTextType), r.F32(f::kDisplayTime), r.U32(f::kEventId), r.U32(f::kUnitSize),
                         r.At(f::kData)};
    }
  }
}

}  // namespace

DecodeResult DecodeRequest(const uint8_t* message, size_t size) {
  DecodeResult result;
  if (message == nullptr || size < kRequestHeaderSize) {
    result.exceptionCode = host_protocol::kExceptionSizeMismatch;
    return result;
  }
  DecodedRequest& request = result.request;
  request.size = wire::LoadU32(message + kRequestSizeOffset);
  request.version = wire::LoadU32(message + kRequestVersionOffset);
  request.id = wire::LoadU32(message + kRequestIdOffset);
  request.sendId = wire::LoadU32(message + kRequestSendIdOffset);

  if (request.size != size) {
    result.exceptionCode = host_protocol::kExceptionSizeMismatch;
    return result;
  }
  if (request.version != kProtocolVersion) {
    result.exceptionCode = host_protocol::kExceptionVersionMismatch;
    return result;
  }
  uint32_t expected = ExpectedSize(request.id, message, size);
  if (expected == 0) {
    result.exceptionCode = host_protocol::kExceptionUnrecognizedId;
    return result;
  }
  if (expected != size) {
    result.exceptionCode = host_protocol::kExceptionSizeMismatch;
    return result;
  }
  FieldReader reader(message, result);
  request.body = DecodeBody(request.id, reader);
  return result;
}

const char* RequestName(uint32_t id) {
  switch (id) {
    case kOpenId: return "Open";
    case kAddToDataDefinitionId: return "AddToDataDefinition";
    case kRequestDataOnSimObjectId: return "RequestDataOnSimObject";
    case kMenuAddItemId: return "MenuAddItem";
    case kMenuAddSubItemId: return "MenuAddSubItem";
    case kMenuRemoveSubItemId: return "MenuRemoveSubItem";
    case kMapClientDataNameToIdId: return "MapClientDataNameToID";
    case kCreateClientDataId: return "CreateClientData";
    case kAddToClientDataDefinitionId: return "AddToClientDataDefinition";
    case kRequestClientDataId: return "RequestClientData";
    case kSetClientDataId: return "SetClientData";
    case kTextId: return "Text";
    default: return "unknown";
  }
}

}  // namespace simhost
