// SimConnectTransport: one connection to the simulator over a named pipe or a
// TCP socket, with one outstanding overlapped read, a chain of overlapped writes,
// the receive buffer and its framing, and a reference count that keeps the
// object alive while operations are outstanding.
//
// Lock order: sendLock (client) -> connectionLock -> sendQueue's lock.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "simconnect/critical_section.h"
#include "simconnect/message_record.h"
#include "simconnect/transport/framing.h"

enum class TransportKind : uint32_t { Socket = 0, Pipe = 1 };

enum class ConnectionState : uint32_t { Closed = 0, Connected = 2 };

// Why a connection ended; passed to Close with a status.
enum class FailureKind : uint32_t {
  None = 0,           // orderly close
  SizeTooLarge = 1,   // 0x80004004
  MalformedSize = 2,  // 0x80004004
  NoMemory = 3,       // 0x8007000E
  ZeroBytes = 4,      // 0xC000013E
  Disconnected = 5,   // 0xC000013C, 0xC000014B or 0xC000020D
  Cancelled = 8,      // 0xC0000120
  Other = 9,          // any other status
};

constexpr int32_t kStatusAbort = static_cast<int32_t>(0x80004004);
constexpr int32_t kStatusOutOfMemory = static_cast<int32_t>(0x8007000E);
constexpr int32_t kStatusLinkFailed = static_cast<int32_t>(0xC000013E);
constexpr int32_t kStatusRemoteDisconnect = static_cast<int32_t>(0xC000013C);
constexpr int32_t kStatusPipeBroken = static_cast<int32_t>(0xC000014B);
constexpr int32_t kStatusConnectionReset = static_cast<int32_t>(0xC000020D);
constexpr int32_t kStatusCancelled = static_cast<int32_t>(0xC0000120);
constexpr uint32_t kStatusBufferOverflow = 0x80000005;

class SimConnectTransport;

// One overlapped operation. OVERLAPPED comes first so that the completion
// routine finds the operation, and through `owner` the transport, from the
// OVERLAPPED pointer alone.
struct IoOperation {
  OVERLAPPED overlapped;
  SimConnectTransport* owner;
  bool isWrite;
  WSABUF buffer;
  uint8_t* writing;  // write operation only: the block being written (malloc'd, owned)
};

class SimConnectTransport {
 public:
  explicit SimConnectTransport(TransportKind kind);

  // Resets for a fresh connection: empties the send queue, drops the block being
  // written, takes a new ConnectionId, rewinds the receive buffer and, for a
  // pipe, creates the two operations' events.
  virtual void Start();
  // Ends the connection; only the first Close after a start releases the handle.
  // FailureKind::None is an orderly close and records no status.
  virtual void Close(FailureKind failure, int32_t status);
  // Hands over one complete message (holder size == capacity == length). The
  // base version keeps the buffer in the holder for reuse.
  virtual void OnMessage(framing::ReceivedMessage& message);

  // Stores a connected handle and allocates the receive buffer and the holder.
  // False when out of memory.
  bool AttachHandle(HANDLE connected, uint32_t maxReceiveSize, bool disableNagle);

  // Issues the one read into the free end of the receive buffer.
  void PostReceive();
  // Queues `record` for writing and starts the write chain. The transport adds
  // its own reference when it keeps the record. False when not connected.
  bool QueueSend(MessageRecord* record);

  bool HasFailed() const { return failureKind.load(std::memory_order_acquire) != FailureKind::None; }
  int32_t FailureStatus() const { return status; }
  uint32_t CurrentConnectionId() const { return connectionId.load(std::memory_order_acquire); }
  ConnectionState State() const { return state.load(std::memory_order_acquire); }
  TransportKind Kind() const { return kind; }
  HANDLE Handle() const { return handle; }
  FailureKind LastFailure() const { return failureKind.load(std::memory_order_acquire); }
  // Bytes queued for sending and not yet written: the send queue plus the block
  // being written. Readable from any thread without a lock.
  uint32_t QueuedSendBytes() const { return queuedSendBytes.load(std::memory_order_acquire); }

  // The count starts at 1 for the owner; +1 for each outstanding operation.
  void AddRef() { refCount.fetch_add(1, std::memory_order_relaxed); }
  // Takes a reference unless the last one is already gone (the object is being
  // destroyed); true when taken.
  bool TryAddRef();
  // Drops one reference; the last one frees the buffers and destroys the object.
  void Release();

  // BindIoCompletionCallback routine. Never blocks: it cuts messages, hands
  // them over and issues the next operation.
  static void CALLBACK IoCompleted(DWORD errorCode, DWORD bytesTransferred, LPOVERLAPPED overlapped);

 protected:
  virtual ~SimConnectTransport();

  // The end of a derived Start: TCP_NODELAY for a socket whose settings ask for
  // it (result ignored: the socket works without), then Connected when
  // `connect` is true.
  void FinishStart(bool connect);

 private:
  // Issues the next queued write; true when one was issued. Call with
  // connectionLock held.
  bool StartWrite(bool afterCompletion);
  // Frees the block being written (its write completed, failed or was dropped).
  // Call with connectionLock held.
  void DropWriting();
  // Ends the connection after an operation could not be issued (error other
  // than ERROR_IO_PENDING), mapping the OS error to a failure kind and status.
  void CloseAfterIssueFailure(DWORD osError);

  HANDLE handle = INVALID_HANDLE_VALUE;  // pipe handle or SOCKET; guarded by connectionLock
  std::atomic<ConnectionState> state{ConnectionState::Closed};  // changed under connectionLock
  uint32_t lastOsError = 0;
  int32_t status = 0;
  const TransportKind kind;
  RecordQueue sendQueue;  // its own lock is the send-queue lock
  bool writeInProgress = false;  // guarded by connectionLock
  DWORD bytesSent = 0;
  framing::ReceiveBuffer receiveBuffer;  // touched only by the one outstanding read
  CRITICAL_SECTION connectionLock;  // guards state changes, the write chain, connectionId; lives with the object
  framing::ReceivedMessage* message = nullptr;  // owned; touched only by the read side
  bool disableNagle = false;
  IoOperation readOperation;
  IoOperation writeOperation;
  std::atomic<uint32_t> connectionId{0};
  uint32_t maxReceiveSize = 1024;
  std::atomic<uint32_t> refCount{1};
  std::atomic<FailureKind> failureKind{FailureKind::None};
  // Sizes of the queued records plus that of the block being written: raised
  // when a record is queued, lowered when its block is written or dropped.
  std::atomic<uint32_t> queuedSendBytes{0};
};

// Connects `transport` (fresh, Closed) to a pipe (family 0) or a TCP endpoint
// (family AF_INET 2 or AF_INET6 23). address/port may be null or empty. On
// success the transport is started and its first read is issued.
// Returns true when connected (nothing stays open otherwise).
bool ConnectTransport(SimConnectTransport* transport, int family, const wchar_t* address, const wchar_t* port,
                      uint32_t maxReceiveSize, bool disableNagle);

// Starts Winsock 2.0 once per process; true when started (now or earlier).
bool StartWinsock();
// Waits up to 20 x 250 ms for every transport object to be gone, then calls
// WSACleanup when StartWinsock had started Winsock.
void StopWinsockWhenIdle();
// Number of SimConnectTransport objects alive in the process.
uint32_t LiveTransportCount();
// Formats the pipe path for a server (null/empty: ".") and a pipe name
// (null/empty: the simulator's default pipe) into `path` (260 units).
void FormatPipePath(wchar_t (&path)[MAX_PATH], const wchar_t* server, const wchar_t* pipeName);
