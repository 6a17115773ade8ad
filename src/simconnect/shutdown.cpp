// Closing a connection: SimConnect_Close and ShutdownConnection.
#include "simconnect/SimConnect.h"
#include "simconnect/client.h"
#include "simconnect/transport/inprocess_channel.h"

HRESULT SimConnect_Close(HANDLE handle) {
  auto* client = static_cast<SimConnectClient*>(handle);
  uint32_t flushed = FlushRequests(client);
  uint32_t shut = ShutdownConnection(client);
  return (flushed == 1 && shut == 1) ? E_FAIL : S_OK;
}

uint32_t ShutdownConnection(SimConnectClient* client) {
  if (client == nullptr) return 1;
  // Give requests just flushed time to reach the simulator before the close.
  Sleep(100);
  InProcessUnregister(client);

  // From here on the connection neither notifies nor becomes Connected again.
  // The owner closes its event as soon as this returns: once the targets are
  // cleared, no completion thread or host callback is still signalling them.
  client->shutDown.store(true, std::memory_order_release);
  client->ClearNotifyTargets();

  MessageRecord* slot = nullptr;
  while (client->receiveQueue.Pop(slot)) client->ReturnHostBlock(slot);
  if (slot != nullptr) slot->Release();
  if (client->currentMessage != nullptr) {
    client->ReturnHostBlock(client->currentMessage);
    client->currentMessage->Release();
    client->currentMessage = nullptr;
  }

  connection_list::Unlink(client);
  client->Close(kFailureNone, 0);
  // Empties the send queue and drops the block being written.
  client->Start();
  // The owner's reference; outstanding operations hold theirs until they complete.
  client->Release();

  Sleep(250);
  if (LiveConnections() == 0) StopWinsockWhenIdle();
  return 0;
}
