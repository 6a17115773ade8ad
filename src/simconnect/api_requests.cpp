// The SimConnect_ request functions: reserve, write, flush (see request_path.cpp).
#include <limits>

#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"

namespace {

// Builds one request of `size` bytes with `write(buffer)`, which returns false
// when a string argument does not fit its field. Returns S_OK once the request
// is built and flushed, whatever then happens to it on the wire.
template <typename Write>
HRESULT SendRequest(HANDLE handle, uint32_t size, Write&& write) {
  auto* client = static_cast<SimConnectClient*>(handle);
  if (client == nullptr) return E_FAIL;
  uint8_t* buffer = nullptr;
  switch (client->ReserveRequest(size, &buffer)) {
    case ClientStatus::Ok:
      break;
    case ClientStatus::ConnectionFailed:
      return FailureResult(client);
    default:
      return E_FAIL;
  }
  // No room: only a single request longer than the send buffer meets this.
  if (buffer == nullptr) return E_FAIL;
  if (!write(buffer)) {
    client->AbandonRequest(buffer, size);
    return kResultStringTooLong;
  }
  client->FlushRequests();
  return S_OK;
}

// Size of a request with a caller's data block; 0 when it would overflow.
uint32_t SizeWithData(uint32_t fixedSize, uint32_t unitSize) {
  if (unitSize > std::numeric_limits<uint32_t>::max() - fixedSize) return 0;
  return fixedSize + unitSize;
}

}  // namespace

HRESULT SimConnect_AddToDataDefinition(HANDLE handle, uint32_t definitionId, const char* datumName,
                                       const char* unitsName, uint32_t datumType, float epsilon,
                                       uint32_t datumId) {
  return SendRequest(handle, protocol::add_to_data_definition::kSize, [&](uint8_t* r) {
    return request_encoding::WriteAddToDataDefinition(r, definitionId, datumName, unitsName, datumType, epsilon,
                                                      datumId);
  });
}

HRESULT SimConnect_RequestDataOnSimObject(HANDLE handle, uint32_t requestId, uint32_t definitionId,
                                          uint32_t objectId, uint32_t period, uint32_t flags, uint32_t origin,
                                          uint32_t interval, uint32_t limit) {
  return SendRequest(handle, protocol::request_data_on_sim_object::kSize, [&](uint8_t* r) {
    request_encoding::WriteRequestDataOnSimObject(r, requestId, definitionId, objectId, period, flags, origin,
                                                  interval, limit);
    return true;
  });
}

HRESULT SimConnect_MenuAddItem(HANDLE handle, const char* itemText, uint32_t menuEventId, uint32_t data) {
  return SendRequest(handle, protocol::menu_add_item::kSize, [&](uint8_t* r) {
    return request_encoding::WriteMenuAddItem(r, itemText, menuEventId, data);
  });
}

HRESULT SimConnect_MenuAddSubItem(HANDLE handle, uint32_t menuEventId, const char* itemText,
                                  uint32_t subMenuEventId, uint32_t data) {
  return SendRequest(handle, protocol::menu_add_sub_item::kSize, [&](uint8_t* r) {
    return request_encoding::WriteMenuAddSubItem(r, menuEventId, itemText, subMenuEventId, data);
  });
}

HRESULT SimConnect_MenuRemoveSubItem(HANDLE handle, uint32_t menuEventId, uint32_t subMenuEventId) {
  return SendRequest(handle, protocol::menu_remove_sub_item::kSize, [&](uint8_t* r) {
    request_encoding::WriteMenuRemoveSubItem(r, menuEventId, subMenuEventId);
    return true;
  });
}

HRESULT SimConnect_MapClientDataNameToID(HANDLE handle, const char* clientDataName, uint32_t clientDataId) {
  return SendRequest(handle, protocol::map_client_data_name_to_id::kSize, [&](uint8_t* r) {
    return request_encoding::WriteMapClientDataNameToId(r, clientDataName, clientDataId);
  });
}

HRESULT SimConnect_CreateClientData(HANDLE handle, uint32_t clientDataId, uint32_t size, uint32_t flags) {
  return SendRequest(handle, protocol::create_client_data::kSize, [&](uint8_t* r) {
    request_encoding::WriteCreateClientData(r, clientDataId, size, flags);
    return true;
  });
}

HRESULT SimConnect_AddToClientDataDefinition(HANDLE handle, uint32_t definitionId, uint32_t offset,
                                             uint32_t sizeOrType, float epsilon, uint32_t datumId) {
  return SendRequest(handle, protocol::add_to_client_data_definition::kSize, [&](uint8_t* r) {
    request_encoding::WriteAddToClientDataDefinition(r, definitionId, offset, sizeOrType, epsilon, datumId);
    return true;
  });
}

HRESULT SimConnect_RequestClientData(HANDLE handle, uint32_t clientDataId, uint32_t requestId,
                                     uint32_t definitionId, uint32_t period, uint32_t flags, uint32_t origin,
                                     uint32_t interval, uint32_t limit) {
  return SendRequest(handle, protocol::request_client_data::kSize, [&](uint8_t* r) {
    request_encoding::WriteRequestClientData(r, clientDataId, requestId, definitionId, period, flags, origin,
                                             interval, limit);
    return true;
  });
}

HRESULT SimConnect_SetClientData(HANDLE handle, uint32_t clientDataId, uint32_t definitionId, uint32_t flags,
                                 uint32_t reserved, uint32_t unitSize, const void* data) {
  uint32_t size = SizeWithData(protocol::set_client_data::kFixedSize, unitSize);
  if (size == 0 || (unitSize != 0 && data == nullptr)) return E_FAIL;
  return SendRequest(handle, size, [&](uint8_t* r) {
    request_encoding::WriteSetClientData(r, clientDataId, definitionId, flags, reserved, unitSize, data);
    return true;
  });
}

HRESULT SimConnect_Text(HANDLE handle, uint32_t textType, float displaySeconds, uint32_t eventId,
                        uint32_t unitSize, const void* data) {
  uint32_t size = SizeWithData(protocol::text::kFixedSize, unitSize);
  if (size == 0 || (unitSize != 0 && data == nullptr)) return E_FAIL;
  return SendRequest(handle, size, [&](uint8_t* r) {
    request_encoding::WriteText(r, textType, displaySeconds, eventId, unitSize, data);
    return true;
  });
}

HRESULT SimConnect_GetLastSentPacketID(HANDLE handle, uint32_t* sendId) {
  auto* client = static_cast<SimConnectClient*>(handle);
  if (client == nullptr || sendId == nullptr) return E_FAIL;
  *sendId = client->LastSendId();
  return S_OK;
}
