// The receive side of the API: hand out queued messages one at a time
// (SimConnect_GetNextDispatch) or to a callback (SimConnect_CallDispatch), and
// take strings out of them (SimConnect_RetrieveString).
#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "simconnect/protocol.h"
#include "simconnect/received_string.h"
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
  return client == nullptr ? E_FAIL : client->NextDispatch(message, size);
}

HRESULT SimConnectClient::NextDispatch(const void** message, uint32_t* size) {
  // The message handed out last is freed now, not earlier.
  if (currentMessage != nullptr) {
    ReturnHostBlock(currentMessage);
    currentMessage->Release();
    currentMessage = nullptr;
  }

  if (!receiveQueue.Pop(currentMessage)) {
    return HasFailed() ? FailureResult(this) : E_FAIL;
  }
  MessageRecord* record = currentMessage;
  if (!IsMessage(record)) return E_FAIL;  // stays current until the following call
  channel_.OnOpenReply(record->data, record->size, CurrentConnectionId());
  *message = record->data;
  *size = record->size;
  return S_OK;
}

HRESULT SimConnect_CallDispatch(HANDLE handle, DispatchProc callback, void* context) {
  auto* client = static_cast<SimConnectClient*>(handle);
  if (client == nullptr) {
    if (callback == kPumpAllCallback && context == kPumpAllContext) {
      ForEachConnection([](SimConnectClient* each) { each->PumpAgain(); });
    }
    return E_FAIL;
  }
  return callback == nullptr ? E_FAIL : client->CallDispatch(callback, context);
}

void SimConnectClient::PumpAgain() {
  DispatchProc callback = lastDispatchCallback.load(std::memory_order_acquire);
  if (callback != nullptr) CallDispatch(callback, lastDispatchContext.load(std::memory_order_acquire));
}

HRESULT SimConnectClient::CallDispatch(DispatchProc callback, void* context) {
  // The context first: the pump-all reads the callback, then its context.
  lastDispatchContext.store(context, std::memory_order_release);
  lastDispatchCallback.store(callback, std::memory_order_release);

  MessageRecord* slot = nullptr;
  while (receiveQueue.Pop(slot)) {
    if (IsMessage(slot)) {
      channel_.OnOpenReply(slot->data, slot->size, CurrentConnectionId());
      callback(slot->data, slot->size, context);
    }
    // A host block goes back as soon as its callback has returned.
    ReturnHostBlock(slot);
  }
  if (slot != nullptr) slot->Release();
  return HasFailed() ? FailureResult(this) : S_OK;
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
