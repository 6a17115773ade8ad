// The receive side of the API: hand out queued messages one at a time
// (SimConnect_GetNextDispatch) or to a callback (SimConnect_CallDispatch), and
// take strings out of them (SimConnect_RetrieveString).
#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "simconnect/protocol.h"
#include "simconnect/received_string.h"
#include "simconnect/transport/inprocess_channel.h"
#include "simconnect/transport/inprocess_records.h"

namespace {

// The simulator's pump-all call (see inprocess_records.h).
const DispatchProc kPumpAllCallback = reinterpret_cast<DispatchProc>(inprocess::kPumpAllCallback);
void* const kPumpAllContext = reinterpret_cast<void*>(inprocess::kPumpAllContext);

bool IsMessage(const MessageRecord* record) {
  return record->data != nullptr && record->size >= protocol::kReceivedHeaderSize;
}

}  // namespace

HRESULT SimConnect_GetNextDispatch(HANDLE handle, const void** message, uint32_t* size) {
  if (message == nullptr || size == nullptr) return E_FAIL;
  *message = nullptr;
  *size = 0;
  auto* client = static_cast<SimConnectClient*>(handle);
  if (client == nullptr) return E_FAIL;

  // The message handed out last is freed now, not earlier.
  if (client->currentMessage != nullptr) {
    client->ReturnHostBlock(client->currentMessage);
    client->currentMessage->Release();
    client->currentMessage = nullptr;
  }

  if (!client->receiveQueue.Pop(client->currentMessage)) {
    return client->HasFailed() ? FailureResult(client) : E_FAIL;
  }
  MessageRecord* record = client->currentMessage;
  if (!IsMessage(record)) return E_FAIL;  // stays current until the following call
  InProcessOpenReply(client, record->data, record->size);
  *message = record->data;
  *size = record->size;
  return S_OK;
}

HRESULT SimConnect_CallDispatch(HANDLE handle, DispatchProc callback, void* context) {
  auto* client = static_cast<SimConnectClient*>(handle);
  if (client == nullptr) {
    if (callback == kPumpAllCallback && context == kPumpAllContext) {
      ForEachConnection([](SimConnectClient* each) {
        DispatchProc eachCallback = each->lastDispatchCallback.load(std::memory_order_acquire);
        if (eachCallback != nullptr) {
          SimConnect_CallDispatch(each, eachCallback, each->lastDispatchContext.load(std::memory_order_acquire));
        }
      });
    }
    return E_FAIL;
  }
  if (callback == nullptr) return E_FAIL;

  // The context first: the pump-all reads the callback, then its context.
  client->lastDispatchContext.store(context, std::memory_order_release);
  client->lastDispatchCallback.store(callback, std::memory_order_release);

  MessageRecord* slot = nullptr;
  while (client->receiveQueue.Pop(slot)) {
    if (IsMessage(slot)) {
      InProcessOpenReply(client, slot->data, slot->size);
      callback(slot->data, slot->size, context);
    }
    // A host block goes back as soon as its callback has returned.
    client->ReturnHostBlock(slot);
  }
  if (slot != nullptr) slot->Release();
  return client->HasFailed() ? FailureResult(client) : S_OK;
}

HRESULT SimConnect_RetrieveString(const void* message, uint32_t messageSize, const void* text,
                                  const char** outText, uint32_t* paddedSize) {
  if (message == nullptr || messageSize == 0 || text == nullptr || outText == nullptr) return E_FAIL;
  *outText = nullptr;
  if (paddedSize != nullptr) *paddedSize = 0;
  if (!received_string::Find(static_cast<const uint8_t*>(message), messageSize, static_cast<const uint8_t*>(text),
                             paddedSize)) {
    return E_FAIL;
  }
  *outText = static_cast<const char*>(text);
  return S_OK;
}
