// SimConnect_Open: connect (see transport/open_connection.cpp), then send the
// Open request. The open reply arrives later through the receive queue.
#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "simconnect/protocol.h"
#include "simconnect/request_encoding.h"
#include "simconnect/transport/config.h"

HRESULT SimConnect_Open(HANDLE* outHandle, const char* name, HWND notifyWindow, uint32_t notifyMessage,
                        HANDLE notifyEvent, uint32_t configIndex) {
  if (outHandle == nullptr || name == nullptr) return E_INVALIDARG;

  SimConnectClient* client = nullptr;
  ClientStatus opened = OpenConnection(&client, configIndex);
  if (opened != ClientStatus::Ok) {
    *outHandle = nullptr;
    return opened == ClientStatus::InvalidConfigIndex ? E_INVALIDARG : E_FAIL;
  }
  *outHandle = client;

  client->SetNotifyTargets(notifyWindow, notifyMessage, notifyEvent);

  HRESULT result = S_OK;
  uint8_t* buffer = nullptr;
  switch (client->ReserveRequest(protocol::open::kSize, &buffer)) {
    case ClientStatus::Ok:
      if (buffer == nullptr) {
        result = E_FAIL;
      } else if (!request_encoding::WriteOpen(buffer, name)) {
        // The request is not given back: the connection is torn down below.
        result = kResultStringTooLong;
      } else if (!client->FlushRequests()) {
        result = E_FAIL;
      }
      break;
    case ClientStatus::ConnectionFailed:
      result = FailureResult(client);
      break;
    default:
      result = E_FAIL;
      break;
  }

  if (result != S_OK) {
    ShutdownConnection(client);
    *outHandle = nullptr;
  }
  return result;
}
