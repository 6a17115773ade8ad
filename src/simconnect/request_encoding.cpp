#include "simconnect/request_encoding.h"

#include <cstring>

#include "simconnect/protocol.h"
#include "simconnect/wire.h"

namespace request_encoding {

using namespace protocol;
using wire::StoreF32;
using wire::StoreU32;

namespace {

bool PutString(uint8_t* request, uint32_t offset, const char* text) {
  return wire::StoreFixedString(request + offset, kStringFieldSize, text);
}

}  // namespace

uint32_t NextSendId(uint32_t last) {
  uint32_t id = last + 1;
  if (id == 0) id = 1;
  return id;
}

void WriteHeader(uint8_t* request, uint32_t size, uint32_t id) {
  StoreU32(request + kRequestSizeOffset, size);
  StoreU32(request + kRequestVersionOffset, kProtocolVersion);
  StoreU32(request + kRequestIdOffset, id);
}

bool WriteOpen(uint8_t* request, const char* name) {
  WriteHeader(request, open::kSize, kOpenId);
  if (!PutString(request, open::kName, name)) return false;
  StoreU32(request + open::kReserved272, 0);
  StoreU32(request + open::kMagic, open::kMagicValue);
  StoreU32(request + open::kSix, open::kSixValue);
  StoreU32(request + open::kReserved284, 0);
  StoreU32(request + open::kReserved288, 0);
  StoreU32(request + open::kReserved292, 0);
  return true;
}

bool WriteAddToDataDefinition(uint8_t* request, uint32_t definitionId, const char* datumName,
                              const char* unitsName, uint32_t datumType, float epsilon, uint32_t datumId) {
  namespace f = add_to_data_definition;
  WriteHeader(request, f::kSize, kAddToDataDefinitionId);
  StoreU32(request + f::kDefinitionId, definitionId);
  if (!PutString(request, f::kDatumName, datumName)) return false;
  if (!PutString(request, f::kUnitsName, unitsName)) return false;
  StoreU32(request + f::kDatumType, datumType);
  StoreF32(request + f::kEpsilon, epsilon);
  StoreU32(request + f::kDatumId, datumId);
  return true;
}

void WriteRequestDataOnSimObject(uint8_t* request, uint32_t requestId, uint32_t definitionId, uint32_t objectId,
                                 uint32_t period, uint32_t flags, uint32_t origin, uint32_t interval, uint32_t limit) {
  namespace f = request_data_on_sim_object;
  WriteHeader(request, f::kSize, kRequestDataOnSimObjectId);
  StoreU32(request + f::kRequestId, requestId);
  StoreU32(request + f::kDefinitionId, definitionId);
  StoreU32(request + f::kObjectId, objectId);
  StoreU32(request + f::kPeriod, period);
  StoreU32(request + f::kFlags, flags);
  StoreU32(request + f::kOrigin, origin);
  StoreU32(request + f::kInterval, interval);
  StoreU32(request + f::kLimit, limit);
}

bool WriteMenuAddItem(uint8_t* request, const char* itemText, uint32_t menuEventId, uint32_t data) {
  namespace f = menu_add_item;
  WriteHeader(request, f::kSize, kMenuAddItemId);
  if (!PutString(request, f::kText, itemText)) return false;
  StoreU32(request + f::kMenuEventId, menuEventId);
  StoreU32(request + f::kData, data);
  return true;
}

bool WriteMenuAddSubItem(uint8_t* request, uint32_t menuEventId, const char* itemText, uint32_t subMenuEventId,
                         uint32_t data) {
  namespace f = menu_add_sub_item;
  WriteHeader(request, f::kSize, kMenuAddSubItemId);
  StoreU32(request + f::kMenuEventId, menuEventId);
  if (!PutString(request, f::kText, itemText)) return false;
  StoreU32(request + f::kSubMenuEventId, subMenuEventId);
  StoreU32(request + f::kData, data);
  return true;
}

void WriteMenuRemoveSubItem(uint8_t* request, uint32_t menuEventId, uint32_t subMenuEventId) {
  namespace f = menu_remove_sub_item;
  WriteHeader(request, f::kSize, kMenuRemoveSubItemId);
  StoreU32(request + f::kMenuEventId, menuEventId);
  StoreU32(request + f::kSubMenuEventId, subMenuEventId);
}

bool WriteMapClientDataNameToId(uint8_t* request, const char* clientDataName, uint32_t clientDataId) {
  namespace f = map_client_data_name_to_id;
  WriteHeader(request, f::kSize, kMapClientDataNameToIdId);
  if (!PutString(request, f::kName, clientDataName)) return false;
  StoreU32(request + f::kClientDataId, clientDataId);
  return true;
}

void WriteCreateClientData(uint8_t* request, uint32_t clientDataId, uint32_t size, uint32_t flags) {
  namespace f = create_client_data;
  WriteHeader(request, f::kSize, kCreateClientDataId);
  StoreU32(request + f::kClientDataId, clientDataId);
  StoreU32(request + f::kDataSize, size);
  StoreU32(request + f::kFlags, flags);
}

void WriteAddToClientDataDefinition(uint8_t* request, uint32_t definitionId, uint32_t offset, uint32_t sizeOrType,
                                    float epsilon, uint32_t datumId) {
  namespace f = add_to_client_data_definition;
  WriteHeader(request, f::kSize, kAddToClientDataDefinitionId);
  StoreU32(request + f::kDefinitionId, definitionId);
  StoreU32(request + f::kOffset, offset);
  StoreU32(request + f::kSizeOrType, sizeOrType);
  StoreF32(request + f::kEpsilon, epsilon);
  StoreU32(request + f::kDatumId, datumId);
}

void WriteRequestClientData(uint8_t* request, uint32_t clientDataId, uint32_t requestId, uint32_t definitionId,
                            uint32_t period, uint32_t flags, uint32_t origin, uint32_t interval, uint32_t limit) {
  namespace f = request_client_data;
  WriteHeader(request, f::kSize, kRequestClientDataId);
  StoreU32(request + f::kClientDataId, clientDataId);
  StoreU32(request + f::kRequestId, requestId);
  StoreU32(request + f::kDefinitionId, definitionId);
  StoreU32(request + f::kPeriod, period);
  StoreU32(request + f::kFlags, flags);
  StoreU32(request + f::kOrigin, origin);
  StoreU32(request + f::kInterval, interval);
  StoreU32(request + f::kLimit, limit);
}

void WriteSetClientData(uint8_t* request, uint32_t clientDataId, uint32_t definitionId, uint32_t flags,
                        uint32_t reserved, uint32_t unitSize, const void* data) {
  namespace f = set_client_data;
  WriteHeader(request, f::kFixedSize + unitSize, kSetClientDataId);
  StoreU32(request + f::kClientDataId, clientDataId);
  StoreU32(request + f::kDefinitionId, definitionId);
  StoreU32(request + f::kFlags, flags);
  StoreU32(request + f::kReserved, reserved);
  StoreU32(request + f::kUnitSize, unitSize);
  if (unitSize != 0) std::memcpy(request + f::kData, data, unitSize);
}

void WriteText(uint8_t* request, uint32_t textType, float displaySeconds, uint32_t eventId, uint32_t unitSize,
               const void* data) {
  namespace f = protocol::text;
  WriteHeader(request, f::kFixedSize + unitSize, kTextId);
  StoreU32(request + f::kTextType, textType);
  StoreF32(request + f::kDisplayTime, displaySeconds);
  StoreU32(request + f::kEventId, eventId);
  StoreU32(request + f::kUnitSize, unitSize);
  if (unitSize != 0) std::memcpy(request + f::kData, data, unitSize);
}

}  // namespace request_encoding
