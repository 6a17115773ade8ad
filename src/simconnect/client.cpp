#include "simconnect/client.h"

#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>

#include "simconnect/critical_section.h"
#include "simconnect/protocol.h"
#include "simconnect/wire.h"

namespace {

// A critical section whose lifetime is the module's: initialised by the
// module's static constructors when it is loaded and deleted when it unloads.
struct ModuleLock {
  ModuleLock() { InitializeCriticalSectionAndSpinCount(&section, 100); }
  ~ModuleLock() { DeleteCriticalSection(&section); }
  CRITICAL_SECTION section;
};

ModuleLock g_sendLock;
// Guards g_listHead, g_listTail and every client's previous/next. Taken alone,
// never while holding sendLock or a transport lock.
ModuleLock g_listLock;
SimConnectClient* g_listHead = nullptr;
SimConnectClient* g_listTail = nullptr;
std::atomic<uint32_t> g_liveConnections{0};

}  // namespace

SendLockGuard::SendLockGuard() { EnterCriticalSection(&g_sendLock.section); }
SendLockGuard::~SendLockGuard() { LeaveCriticalSection(&g_sendLock.section); }

uint32_t LiveConnections() { return g_liveConnections.load(std::memory_order_acquire); }

SimConnectClient* SimConnectClient::Create(TransportKind kind) {
  return new (std::nothrow) SimConnectClient(kind);
}

SimConnectClient::SimConnectClient(TransportKind kind) : SimConnectTransport(kind) {
  std::memset(sendBuffer, 0, sizeof sendBuffer);
  sendCursor = sendBuffer;
  g_liveConnections.fetch_add(1, std::memory_order_acq_rel);
  CriticalSectionGuard guard(g_listLock.section);
  previous = g_listTail;
  if (g_listTail != nullptr) {
    g_listTail->next = this;
  } else {
    g_listHead = this;
  }
  g_listTail = this;
}

SimConnectClient::~SimConnectClient() {
  g_liveConnections.fetch_sub(1, std::memory_order_acq_rel);
  // A block the host delivered after Shutdown drained the queue (its deliver
  // callback had found the connection just before it was unlinked) still goes
  // back to the host; the queue's own clearing would free it.
  DropReceived();
  // receiveQueue clears itself and deletes its lock; the base destructor runs next.
  // An object that was never shut down is still linked: unlink it here.
  Unlink();
}

void SimConnectClient::Start() {
  SimConnectTransport::Start();
  // A connection that was shut down stays Closed: late completions then find it
  // Closed and only drop their references.
  FinishStart(!shutDown.load(std::memory_order_acquire));
}

void SimConnectClient::Close(FailureKind failure, int32_t status) {
  SimConnectTransport::Close(failure, status);
  if (failure != FailureKind::None) Notify();
}

void SimConnectClient::OnMessage(framing::ReceivedMessage& holder) {
  // The block moves from the holder to the record; the holder is left empty.
  MessageRecord* record = MessageRecord::Create(holder.data, holder.capacity, CurrentConnectionId(), 0);
  if (record == nullptr) {
    // No memory for the record: the message is dropped, the holder keeps its
    // buffer for the next one.
    return;
  }
  holder.size = 0;
  holder.capacity = 0;
  holder.data = nullptr;
  QueueReceived(record);
  record->Release();
}

bool SimConnectClient::QueueReceived(MessageRecord* record) {
  if (!receiveQueue.Push(record)) {
    // The record's own block is freed with the record; a host block must never
    // be, so it goes back to the host now.
    ReturnHostBlock(record);
    return false;
  }
  Notify();
  return true;
}

void SimConnectClient::Notify() {
  std::shared_lock<SlimLock> lock(notifyLock);
  // A shut-down connection never notifies: its targets are cleared, and a late
  // completion may still get here.
  if (shutDown.load(std::memory_order_acquire)) return;
  if (notifyWindow != nullptr && notifyMessage != 0) PostMessageW(notifyWindow, notifyMessage, 0, 0);
  if (notifyEvent != nullptr) SetEvent(notifyEvent);
}

void SimConnectClient::SetNotifyTargets(HWND window, uint32_t windowMessage, HANDLE event) {
  std::lock_guard<SlimLock> lock(notifyLock);
  notifyWindow = window;
  notifyMessage = windowMessage;
  notifyEvent = event;
}

void SimConnectClient::ReturnHostBlock(MessageRecord* record) {
  if (record == nullptr || record->hostOwned == 0 || record->data == nullptr) return;
  channel_.ReleaseBlock(record->connectionId, record->data);
  record->data = nullptr;
}

uint32_t QueuedSendBytes(HANDLE simConnect) {
  auto* client = static_cast<SimConnectClient*>(simConnect);
  if (client == nullptr || client->State() != ConnectionState::Connected || client->Channel().Active()) return 0;
  return client->QueuedSendBytes();
}

// A client whose last reference is already gone is being destroyed and
// unlinks itself once it gets the list lock: the walks below skip it.
SimConnectClient* FindConnection(uint32_t hostConnectionId, uint32_t connectionId) {
  CriticalSectionGuard guard(g_listLock.section);
  for (SimConnectClient* found = g_listHead; found != nullptr; found = found->next) {
    if (found->CurrentConnectionId() == connectionId && found->channel_.HostConnectionId() == hostConnectionId &&
        found->TryAddRef()) {
      return found;
    }
  }
  return nullptr;
}

void ForEachConnection(void (*visit)(SimConnectClient* client)) {
  std::vector<SimConnectClient*> clients;
  {
    CriticalSectionGuard guard(g_listLock.section);
    for (SimConnectClient* client = g_listHead; client != nullptr; client = client->next) {
      if (client->TryAddRef()) clients.push_back(client);
    }
  }
  for (SimConnectClient* client : clients) visit(client);
  for (SimConnectClient* client : clients) client->Release();
}

void SimConnectClient::Unlink() {
  CriticalSectionGuard guard(g_listLock.section);
  if (previous != nullptr) previous->next = next;
  if (next != nullptr) next->previous = previous;
  if (g_listHead == this) g_listHead = next;
  if (g_listTail == this) g_listTail = previous;
  previous = nullptr;
  next = nullptr;
}
