// SimConnectClient: the connection object behind a SimConnect handle. It adds
// to the transport the receive queue, the notification targets, the send buffer
// in which every request is built in place, the SendID counter, the message last
// handed out, its place in the process-wide connection list and the in-process
// channel state.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "simconnect/SimConnect.h"
#include "simconnect/message_record.h"
#include "simconnect/slim_lock.h"
#include "simconnect/transport/inprocess_records.h"
#include "simconnect/transport/transport.h"

constexpr uint32_t kSendBufferCapacity = 41088;

// Status numbers used below the API.
enum ClientStatus : uint32_t {
  kClientOk = 0,
  kClientUnusable = 1,
  kClientConnectionFailed = 2,
  kClientInvalidConfigIndex = 3,
};

// Functions the in-process host lends a connection (command 2 table).
using HostAllocateFn = inprocess::AllocateFn;
using HostDiscardFn = inprocess::DiscardFn;
using HostSubmitFn = inprocess::SubmitFn;
using HostReleaseFn = inprocess::ReleaseFn;
using HostUnregisterFn = inprocess::UnregisterFn;

struct PendingHostBlock {
  uint8_t* block;
  uint32_t size;
};

class SimConnectClient : public SimConnectTransport {
 public:
  // Appends the object to connectionList and counts it in liveConnections.
  // Allocate with Create (nothrow); null when out of memory.
  static SimConnectClient* Create(TransportKind kind);

  void Start() override;
  void Close(uint32_t failureKind, int32_t status) override;
  uint32_t OnMessage(framing::ReceivedMessage& message) override;

  // Queues a received record and notifies (window message, then event). False
  // when the queue had no memory for it: the message is lost, and a block the
  // host lent goes back to the host at once.
  bool QueueReceived(MessageRecord* record);
  // Gives a host-owned block back to the host and clears the record's data.
  void ReturnHostBlock(MessageRecord* record);
  // Gives `block`, delivered by the host for `connectionId`, back to the host.
  void ReleaseHostBlock(uint32_t connectionId, void* block);

  // The notification targets given to SimConnect_Open (window and message,
  // event); zero for none.
  void SetNotifyTargets(HWND window, uint32_t windowMessage, HANDLE event);
  // Clears the notification targets. Once it returns, no thread signals them
  // any more: the owner may close its event.
  void ClearNotifyTargets();

  RecordQueue receiveQueue;
  // The dispatch of the latest SimConnect_CallDispatch: written by the client's
  // thread, read by the simulator's pump-all on its own.
  std::atomic<DispatchProc> lastDispatchCallback{nullptr};
  std::atomic<void*> lastDispatchContext{nullptr};
  uint32_t sendCapacity = kSendBufferCapacity;
  uint8_t* sendStart;   // == sendBuffer; guarded by sendLock
  uint8_t* sendCursor;  // end of the bytes built so far; guarded by sendLock
  uint32_t lastSendId = 0;  // guarded by sendLock
  MessageRecord* currentMessage = nullptr;  // client's thread only
  SimConnectClient* previous = nullptr;     // guarded by the connection-list lock
  SimConnectClient* next = nullptr;         // guarded by the connection-list lock

  // In-process channel. hostConnectionId and channelState are written on the
  // client's thread (the open and the open reply) and read by the host's
  // callbacks on the simulator's thread.
  std::atomic<uint32_t> hostConnectionId{0};
  std::atomic<uint32_t> channelState{0};  // 0 none, 1 registered, 2 offer sent
  HWND simulatorWindow = nullptr;          // client's thread only
  uint8_t pumpRecord[24] = {};
  uint8_t offerRecord[32] = {};
  uint8_t unregisterRecord[24] = {};
  // The host's functions: written once by the attach callback (under sendLock),
  // read by the request path and by whichever thread gives a block back.
  std::atomic<HostAllocateFn> hostAllocate{nullptr};
  std::atomic<HostDiscardFn> hostDiscard{nullptr};
  std::atomic<HostSubmitFn> hostSubmit{nullptr};
  std::atomic<HostReleaseFn> hostRelease{nullptr};
  HostUnregisterFn hostUnregister = nullptr;  // client's thread only
  std::atomic<bool> channelActive{false};
  std::vector<PendingHostBlock> pendingHostBlocks;  // guarded by sendLock

  // Set by ShutdownConnection before the orderly close: from then on the
  // connection never notifies again and is never marked Connected again, so
  // late completions only drop their references.
  std::atomic<bool> shutDown{false};

  uint8_t sendBuffer[kSendBufferCapacity];

 protected:
  explicit SimConnectClient(TransportKind kind);
  ~SimConnectClient() override;

 private:
  // Posts the window message, then sets the event, holding notifyLock shared.
  void Notify();

  // A leaf lock: nothing else is taken while it is held. Notifiers (completion
  // threads, the simulator's deliver callback, a failure Close) hold it shared
  // while they signal; ClearNotifyTargets takes it alone.
  SlimLock notifyLock;
  HWND notifyWindow = nullptr;   // guarded by notifyLock
  uint32_t notifyMessage = 0;    // guarded by notifyLock
  HANDLE notifyEvent = nullptr;  // guarded by notifyLock
};

// ---- Request path (every SimConnect_ request function) --------------------

// Holds the process-wide sendLock (spin count 100; created when the module is
// loaded, deleted when it is unloaded) for its lifetime. sendLock comes before
// every transport lock.
class SendLockGuard {
 public:
  SendLockGuard();
  ~SendLockGuard();
  SendLockGuard(const SendLockGuard&) = delete;
  SendLockGuard& operator=(const SendLockGuard&) = delete;
};

// Reserves `size` bytes for one request, with its sendId already written.
// kClientOk with a null buffer when the send buffer lacks room.
uint32_t ReserveRequest(SimConnectClient* client, uint32_t size, uint8_t** buffer);
// Gives the latest reserved request back unsent; its SendID stays consumed.
void AbandonRequest(SimConnectClient* client, uint8_t* buffer, uint32_t size);
// Hands every built request to the host or the transport. 0 when a block of the
// send buffer was handed to the transport, 1 otherwise.
uint32_t FlushRequests(SimConnectClient* client);

// ---- Tear-down --------------------------------------------------------------

// Closes and releases the connection in order (see client.cpp); 1 for null.
uint32_t ShutdownConnection(SimConnectClient* client);

// ---- Process-wide state -----------------------------------------------------

// Number of SimConnectClient objects alive.
uint32_t LiveConnections();

// Calls `visit(client)` for each connection in construction order, with a
// reference held on each so that none is destroyed during the walk. Safe from
// any thread.
template <typename Visit>
void ForEachConnection(Visit&& visit);

// The first connection in construction order whose ConnectionId and host
// number match, with a reference taken for the caller; null when none does.
// Allocates nothing: the host's callbacks call it for every message.
SimConnectClient* FindConnection(uint32_t hostConnectionId, uint32_t connectionId);

// Implementation details of ForEachConnection.
namespace connection_list {
// Snapshot of the list with a reference taken on each entry; Release each after use.
std::vector<SimConnectClient*> Snapshot();
// Removes `client` from the list (ShutdownConnection).
void Unlink(SimConnectClient* client);
}  // namespace connection_list

template <typename Visit>
void ForEachConnection(Visit&& visit) {
  std::vector<SimConnectClient*> clients = connection_list::Snapshot();
  for (SimConnectClient* client : clients) visit(client);
  for (SimConnectClient* client : clients) client->Release();
}

// Result code of a failed connection: its recorded status.
inline HRESULT FailureResult(const SimConnectClient* client) { return static_cast<HRESULT>(client->status); }
