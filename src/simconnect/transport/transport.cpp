// SimConnectTransport: construction, attaching a connected handle, starting and
// closing a connection, the reference count, and the process-wide counters.
#include "simconnect/transport/transport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "simconnect/endpoints.h"
#include "simconnect/transport/transport_internal.h"

namespace {

// SimConnectTransport objects alive in the process, from construction to
// destruction (an object held only by an outstanding operation still counts).
std::atomic<uint32_t> g_liveTransports{0};

// The ConnectionId last handed out; 0 before the first Start.
std::atomic<uint32_t> g_connectionIdCounter{0};

// The next ConnectionId: one more than the last, and 1 after 0xFFFFFFFF, so
// that 0 always means "no connection".
uint32_t TakeConnectionId() {
  uint32_t last = g_connectionIdCounter.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    next = last + 1;
    if (next == 0) next = 1;
  } while (!g_connectionIdCounter.compare_exchange_weak(last, next, std::memory_order_relaxed));
  return next;
}

void CloseEvent(HANDLE& event) {
  if (event != nullptr) CloseHandle(event);
  event = nullptr;
}

void ResetOperation(IoOperation& operation, SimConnectTransport* owner, bool isWrite) {
  std::memset(&operation.overlapped, 0, sizeof operation.overlapped);
  operation.owner = owner;
  operation.isWrite = isWrite;
  operation.buffer.len = 0;
  operation.buffer.buf = nullptr;
  operation.writing = nullptr;
}

// Appends `text` at `length`, keeping room for the terminating NUL.
void AppendPath(wchar_t (&path)[MAX_PATH], size_t& length, const wchar_t* text) {
  for (; *text != L'\0' && length < MAX_PATH - 1; ++text) path[length++] = *text;
  path[length] = L'\0';
}

}  // namespace

namespace transport_detail {

void SetConnectionIdCounter(uint32_t value) { g_connectionIdCounter.store(value, std::memory_order_relaxed); }

}  // namespace transport_detail

uint32_t LiveTransportCount() { return g_liveTransports.load(std::memory_order_acquire); }

SimConnectTransport::SimConnectTransport(TransportKind kindValue) : kind(kindValue) {
  InitializeCriticalSection(&connectionLock);
  ResetOperation(readOperation, this, false);
  ResetOperation(writeOperation, this, true);
  g_liveTransports.fetch_add(1, std::memory_order_acq_rel);
}

SimConnectTransport::~SimConnectTransport() {
  // A transport let go without a Close still gives its handle back.
  if (handle != INVALID_HANDLE_VALUE) {
    if (kind == TransportKind::Socket) {
      closesocket(reinterpret_cast<SOCKET>(handle));
    } else {
      CloseHandle(handle);
    }
    handle = INVALID_HANDLE_VALUE;
  }
  // A Start after the Close (the orderly shutdown does one) created fresh events.
  CloseEvent(readOperation.overlapped.hEvent);
  CloseEvent(writeOperation.overlapped.hEvent);
  std::free(writeOperation.writing);
  writeOperation.writing = nullptr;
  framing::FreeReceiveBuffer(receiveBuffer);
  if (message != nullptr) {
    framing::FreeMessage(*message);
    delete message;
    message = nullptr;
  }
  DeleteCriticalSection(&connectionLock);
  sendQueue.Clear();
  g_liveTransports.fetch_sub(1, std::memory_order_acq_rel);
}

bool SimConnectTransport::AttachHandle(HANDLE connected, uint32_t maxReceive, bool nagleOff) {
  framing::ReceiveBuffer buffer;
  if (!framing::InitReceiveBuffer(buffer)) return false;
  framing::ReceivedMessage* holder = new (std::nothrow) framing::ReceivedMessage();
  if (holder == nullptr) {
    framing::FreeReceiveBuffer(buffer);
    return false;
  }
  handle = connected;
  maxReceiveSize = maxReceive;
  disableNagle = nagleOff;
  receiveBuffer = buffer;
  failureKind.store(FailureKind::None, std::memory_order_release);
  CloseEvent(readOperation.overlapped.hEvent);
  CloseEvent(writeOperation.overlapped.hEvent);
  ResetOperation(readOperation, this, false);
  ResetOperation(writeOperation, this, true);
  state.store(ConnectionState::Closed, std::memory_order_release);
  message = holder;
  return true;
}

void SimConnectTransport::Start() {
  // Records still queued from before are dropped unsent.
  MessageRecord* dropped = nullptr;
  while (sendQueue.Pop(dropped)) queuedSendBytes.fetch_sub(dropped->size, std::memory_order_acq_rel);
  if (dropped != nullptr) dropped->Release();
  {
    CriticalSectionGuard guard(connectionLock);
    // A write issued before a Close may still be in the system's hands until
    // its completion comes; its block then stays with the write operation and
    // goes with the object (or with that completion). Otherwise the block of
    // the last write is freed.
    if (!writeInProgress) DropWriting();
    writeInProgress = false;
    connectionId.store(TakeConnectionId(), std::memory_order_release);
    // The receive side is rewound only while a handle is attached: after a
    // Close, a late read completion may still be cutting messages on a pool
    // thread, and the closed connection never reads again.
    if (handle != INVALID_HANDLE_VALUE) {
      receiveBuffer.readPos = 0;
      receiveBuffer.writePos = 0;
    }
  }
  if (kind == TransportKind::Pipe) {
    // Write event first, then read event. Nothing waits on them; a missing
    // event is reported and the connection goes on without it.
    HANDLE* events[] = {&writeOperation.overlapped.hEvent, &readOperation.overlapped.hEvent};
    for (HANDLE* event : events) {
      CloseEvent(*event);
      *event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      if (*event == nullptr) std::printf("CreateEvent failed with %d.\n", static_cast<int>(GetLastError()));
    }
  }
}

void SimConnectTransport::Close(FailureKind failure, int32_t statusValue) {
  // The error that led here, before any call below can change it.
  DWORD osError = GetLastError();
  {
    // The handle is closed inside the lock: PostReceive and StartWrite check
    // the state and issue under the same lock, so they never use a handle that
    // is closed or already reused by the system.
    CriticalSectionGuard guard(connectionLock);
    ConnectionState previous = state.exchange(ConnectionState::Closed, std::memory_order_acq_rel);
    connectionId.store(0, std::memory_order_release);
    if (previous != ConnectionState::Closed) {
      if (failure != FailureKind::None) {
        lastOsError = osError;
        status = statusValue;
      }
      if (kind == TransportKind::Socket) {
        SOCKET socket = reinterpret_cast<SOCKET>(handle);
        if (previous == ConnectionState::Connected && socket != INVALID_SOCKET) {
          shutdown(socket, SD_BOTH);
          CancelIo(handle);
        }
        if (socket != INVALID_SOCKET) closesocket(socket);
      } else {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        // Safe with a read or write still pending: the system holds its own
        // reference to the event of an issued operation.
        CloseEvent(readOperation.overlapped.hEvent);
        CloseEvent(writeOperation.overlapped.hEvent);
      }
      handle = INVALID_HANDLE_VALUE;
    }
  }
  // A Close of a transport that is already Closed records only the kind.
  failureKind.store(failure, std::memory_order_release);
}

void SimConnectTransport::OnMessage(framing::ReceivedMessage&) {}

void SimConnectTransport::FinishStart(bool connect) {
  if (kind == TransportKind::Socket && disableNagle) {
    int on = 1;
    setsockopt(reinterpret_cast<SOCKET>(handle), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
               sizeof on);
  }
  if (connect) state.store(ConnectionState::Connected, std::memory_order_release);
}

bool SimConnectTransport::TryAddRef() {
  uint32_t count = refCount.load(std::memory_order_relaxed);
  while (count != 0 && !refCount.compare_exchange_weak(count, count + 1, std::memory_order_relaxed)) {
  }
  return count != 0;
}

void SimConnectTransport::Release() {
  if (refCount.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  // No operation is outstanding and no owner is left: the destructor empties
  // the send queue and frees the buffers, the holder and connectionLock.
  delete this;
}

void SimConnectTransport::CloseAfterIssueFailure(DWORD osError) {
  // A read or write that cannot even be issued leaves the connection unable to
  // go on: it ends like a failed completion, so that the owner is notified and
  // the API reports the status instead of queueing messages that never leave.
  transport_detail::IoFailure failure = transport_detail::MapIoFailure(osError);
  SetLastError(osError);
  Close(failure.kind, failure.status);
}

void FormatPipePath(wchar_t (&path)[MAX_PATH], const wchar_t* server, const wchar_t* pipeName) {
  if (server == nullptr || server[0] == L'\0') server = L".";
  size_t length = 0;
  path[0] = L'\0';
  AppendPath(path, length, L"\\\\");
  AppendPath(path, length, server);
  AppendPath(path, length, L"\\pipe\\");
  if (pipeName != nullptr && pipeName[0] != L'\0') {
    AppendPath(path, length, pipeName);
  } else {
    AppendPath(path, length, endpoints::kDefaultPipeName);
  }
}

// The first read is issued from the calling thread. Under Wine a thread's
// pending I/O is cancelled when the thread exits, so the caller must outlive the
// connection (later reads are issued from the completion thread).
bool ConnectTransport(SimConnectTransport* transport, int family, const wchar_t* address, const wchar_t* port,
                      uint32_t maxReceiveSize, bool disableNagle) {
  if (transport == nullptr) return false;
  if (transport->Kind() == TransportKind::Pipe)
    return transport_detail::ConnectPipe(transport, address, port, maxReceiveSize, disableNagle);
  return transport_detail::ConnectSocket(transport, family, address, port, maxReceiveSize, disableNagle);
}
