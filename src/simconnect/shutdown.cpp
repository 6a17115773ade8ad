// Closing a connection: SimConnect_Close and ShutdownConnection.
#include "simconnect/SimConnect.h"
#include "simconnect/client.h"

HRESULT SimConnect_Close(HANDLE handle) {
  auto* client = static_cast<SimConnectClient*>(handle);
  bool flushed = client != nullptr && client->FlushRequests();
  bool shut = ShutdownConnection(client);
  return (!flushed && !shut) ? E_FAIL : S_OK;
}

bool ShutdownConnection(SimConnectClient* client) {
  if (client == nullptr) return false;
  // Give requests just flushed time to reach the simulator before the close.
  Sleep(100);
  client->Shutdown();
  Sleep(250);
  if (LiveConnections() == 0) StopWinsockWhenIdle();
  return true;
}

void SimConnectClient::Shutdown() {
  channel_.Unregister();

  // From here on the connection neither notifies nor becomes Connected again.
  // The owner closes its event as soon as this returns: once the targets are
  // cleared, no completion thread or host callback is still signalling them.
  shutDown.store(true, std::memory_order_release);
  SetNotifyTargets(nullptr, 0, nullptr);

  DropReceived();
  Unlink();
  Close(FailureKind::None, 0);
  // Empties the send queue and drops the block being written.
  Start();
  // The owner's reference; outstanding operations hold theirs until they
  // complete. The object may be gone once this returns.
  Release();
}

void SimConnectClient::DropReceived() {
  MessageRecord* slot = nullptr;
  while (receiveQueue.Pop(slot)) ReturnHostBlock(slot);
  if (slot != nullptr) slot->Release();
  if (currentMessage != nullptr) {
    ReturnHostBlock(currentMessage);
    currentMessage->Release();
    currentMessage = nullptr;
  }
}
