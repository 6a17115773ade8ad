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
#include "simconnect/transport/inprocess_channel.h"
#include "simconnect/transport/transport.h"

constexpr uint32_t kSendBufferCapacity = 41088;

// Status numbers used below the API.
enum class ClientStatus : uint32_t {
  Ok = 0,
  Unusable = 1,
  ConnectionFailed = 2,
  InvalidConfigIndex = 3,
};

class SimConnectClient : public SimConnectTransport {
 public:
  // Appends the object to connectionList and counts it in liveConnections.
  // Allocate with Create (nothrow); null when out of memory.
  static SimConnectClient* Create(TransportKind kind);

  void Start() override;
  void Close(FailureKind failure, int32_t status) override;
  void OnMessage(framing::ReceivedMessage& message) override;

  // Queues a received record and notifies (window message, then event). False
  // when the queue had no memory for it: the message is lost, and a block the
  // host lent goes back to the host at once.
  bool QueueReceived(MessageRecord* record);

  // The notification targets given to SimConnect_Open (window and message,
  // event); zero for none.
  void SetNotifyTargets(HWND window, uint32_t windowMessage, HANDLE event);

  // ---- Request path (every SimConnect_ request function), under sendLock ----
  // Reserves `size` bytes for one request, with its sendId already written.
  // Ok with a null buffer when the send buffer lacks room.
  ClientStatus ReserveRequest(uint32_t size, uint8_t** buffer);
  // Gives the latest reserved request back unsent; its SendID stays consumed.
  void AbandonRequest(uint8_t* buffer, uint32_t size);
  // Hands every built request to the host or the transport. True when a block
  // of the send buffer was handed to the transport.
  bool FlushRequests();
  uint32_t LastSendId() const;

  // ---- Receive side, on the client's thread ----
  // SimConnect_GetNextDispatch with a connection: lets go of the message
  // handed out before and hands out the next one.
  HRESULT NextDispatch(const void** message, uint32_t* size);
  // SimConnect_CallDispatch with a connection and a callback.
  HRESULT CallDispatch(DispatchProc callback, void* context);
  // The simulator's pump-all, for this connection: CallDispatch again with the
  // latest callback and context, when there was one.
  void PumpAgain();

  // The orderly tear-down of ShutdownConnection, between its pauses: unregisters
  // the channel, silences the notifications, drops the received messages,
  // unlinks, closes, resets and drops the owner's reference.
  void Shutdown();

  InProcessChannel& Channel() { return channel_; }

 protected:
  explicit SimConnectClient(TransportKind kind);
  ~SimConnectClient() override;

 private:
  friend SimConnectClient* FindConnection(uint32_t hostConnectionId, uint32_t connectionId);
  friend void ForEachConnection(void (*visit)(SimConnectClient* client));

  // Posts the window message, then sets the event, holding notifyLock shared.
  void Notify();
  // Gives a host-owned block back to the host and clears the record's data.
  void ReturnHostBlock(MessageRecord* record);
  // Drops every queued message and the current one, host blocks going back.
  void DropReceived();
  // Removes the object from connectionList.
  void Unlink();
  // Numbers the next request. Call with sendLock held.
  uint32_t NextSendId();

  RecordQueue receiveQueue;
  // The dispatch of the latest SimConnect_CallDispatch: written by the client's
  // thread, read by the simulator's pump-all on its own.
  std::atomic<DispatchProc> lastDispatchCallback{nullptr};
  std::atomic<void*> lastDispatchContext{nullptr};
  uint8_t* sendCursor;  // end of the bytes built so far in sendBuffer; guarded by sendLock
  uint32_t lastSendId = 0;  // guarded by sendLock
  MessageRecord* currentMessage = nullptr;  // client's thread only
  SimConnectClient* previous = nullptr;     // guarded by the connection-list lock
  SimConnectClient* next = nullptr;         // guarded by the connection-list lock
  InProcessChannel channel_;

  // Set by Shutdown before the orderly close: from then on the connection
  // never notifies again and is never marked Connected again, so late
  // completions only drop their references.
  std::atomic<bool> shutDown{false};

  // A leaf lock: nothing else is taken while it is held. Notifiers (completion
  // threads, the simulator's deliver callback, a failure Close) hold it shared
  // while they signal; Shutdown takes it alone to clear the targets.
  SlimLock notifyLock;
  HWND notifyWindow = nullptr;   // guarded by notifyLock
  uint32_t notifyMessage = 0;    // guarded by notifyLock
  HANDLE notifyEvent = nullptr;  // guarded by notifyLock

  uint8_t sendBuffer[kSendBufferCapacity];  // guarded by sendLock
};

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

// ---- Tear-down --------------------------------------------------------------

// Closes and releases the connection in order (see shutdown.cpp); false for null.
bool ShutdownConnection(SimConnectClient* client);

// ---- Process-wide state -----------------------------------------------------

// Number of SimConnectClient objects alive.
uint32_t LiveConnections();

// Calls `visit(client)` for each connection in construction order, with a
// reference held on each so that none is destroyed during the walk. Safe from
// any thread.
void ForEachConnection(void (*visit)(SimConnectClient* client));

// The first connection in construction order whose ConnectionId and host
// number match, with a reference taken for the caller; null when none does.
// Allocates nothing: the host's callbacks call it for every message.
SimConnectClient* FindConnection(uint32_t hostConnectionId, uint32_t connectionId);

// Result code of a failed connection: its recorded status.
inline HRESULT FailureResult(const SimConnectClient* client) { return static_cast<HRESULT>(client->FailureStatus()); }

// Bytes queued for sending on the connection and not yet written; 0 for a null
// or closed connection and for one that uses the in-process channel. Lock-free.
uint32_t QueuedSendBytes(HANDLE simConnect);
