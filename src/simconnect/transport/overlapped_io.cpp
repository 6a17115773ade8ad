// The overlapped read loop and write chain of a transport, and the completion
// routine that drives both.
//
// Every issued operation holds one reference on its transport; the completion
// routine drops it at the end (or the issuing code drops it at once when the
// issue fails). Completions run on the thread pool's threads (under Wine all of
// them on one poller thread), so nothing here blocks: the locks below are held
// only around short bookkeeping and the issue calls, which never block for
// overlapped handles.
#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "simconnect/transport/framing.h"
#include "simconnect/transport/transport.h"
#include "simconnect/transport/transport_internal.h"

namespace transport_detail {

IoFailure MapIoFailure(DWORD code) {
  switch (code) {
    case ERROR_BROKEN_PIPE:
    case ERROR_PIPE_NOT_CONNECTED:
    case ERROR_NO_DATA:
    case static_cast<DWORD>(kStatusPipeBroken):
      return {FailureKind::Disconnected, kStatusPipeBroken};
    case WSAECONNRESET:
    case ERROR_NETNAME_DELETED:
    case static_cast<DWORD>(kStatusConnectionReset):
      return {FailureKind::Disconnected, kStatusConnectionReset};
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
    case WSAENOTCONN:
    case static_cast<DWORD>(kStatusRemoteDisconnect):
      return {FailureKind::Disconnected, kStatusRemoteDisconnect};
    case ERROR_OPERATION_ABORTED:
    case static_cast<DWORD>(kStatusCancelled):
      return {FailureKind::Cancelled, kStatusCancelled};
    default:
      // Win32 codes become HRESULTs; an NTSTATUS (high bit set) stays as it is.
      return {FailureKind::Other, HRESULT_FROM_WIN32(code)};
  }
}

}  // namespace transport_detail

namespace {

// Clears an operation's OVERLAPPED for a new issue; a pipe's event stays.
void ClearOverlapped(IoOperation& operation) {
  HANDLE event = operation.overlapped.hEvent;
  std::memset(&operation.overlapped, 0, sizeof operation.overlapped);
  operation.overlapped.hEvent = event;
}

}  // namespace

void SimConnectTransport::PostReceive() {
  // The state check and the issue happen under connectionLock, the lock under
  // which Close closes the handle.
  CriticalSectionGuard guard(connectionLock);
  if (State() != ConnectionState::Connected) return;
  uint32_t length = framing::FreeSpaceLength(receiveBuffer);
  ClearOverlapped(readOperation);
  readOperation.buffer.len = length;
  readOperation.buffer.buf = reinterpret_cast<CHAR*>(framing::FreeSpace(receiveBuffer));
  AddRef();
  bool issued;
  DWORD error = 0;
  if (kind == TransportKind::Socket) {
    DWORD received = 0;
    DWORD flags = 0;
    issued = WSARecv(reinterpret_cast<SOCKET>(handle), &readOperation.buffer, 1, &received, &flags,
                     &readOperation.overlapped, nullptr) == 0;
    if (!issued) error = static_cast<DWORD>(WSAGetLastError());
  } else {
    issued = ReadFile(handle, readOperation.buffer.buf, length, nullptr, &readOperation.overlapped) != FALSE;
    if (!issued) error = GetLastError();
  }
  // Pending (WSA_IO_PENDING and ERROR_IO_PENDING are both 997) or done at
  // once: either way the completion routine gets it.
  if (issued || error == ERROR_IO_PENDING) return;
  // The caller holds its own reference, so this one is never the last.
  Release();
  CloseAfterIssueFailure(error);
}

bool SimConnectTransport::QueueSend(MessageRecord* record) {
  if (record == nullptr) return false;
  CriticalSectionGuard guard(connectionLock);
  if (State() != ConnectionState::Connected) return false;
  // No memory for the queue's node: the record is not kept, as when closed.
  if (!sendQueue.Push(record)) return false;
  queuedSendBytes.fetch_add(record->size, std::memory_order_acq_rel);
  StartWrite(false);
  return true;
}

void SimConnectTransport::DropWriting() {
  if (writeOperation.writing != nullptr) {
    queuedSendBytes.fetch_sub(writeOperation.buffer.len, std::memory_order_acq_rel);
  }
  std::free(writeOperation.writing);
  writeOperation.writing = nullptr;
  writeOperation.buffer.len = 0;
  writeOperation.buffer.buf = nullptr;
}

bool SimConnectTransport::StartWrite(bool afterCompletion) {
  // The running write continues the chain when it completes.
  if (!afterCompletion && writeInProgress) return false;
  // The block whose write just completed.
  DropWriting();
  // A Close between the completion and this lock: nothing more is written; the
  // queued records go with the next Start or with the object.
  if (State() != ConnectionState::Connected) {
    writeInProgress = false;
    return false;
  }

  MessageRecord* record = nullptr;
  for (;;) {
    if (!sendQueue.Pop(record)) {
      if (record != nullptr) record->Release();
      writeInProgress = false;
      return false;
    }
    // A record without bytes would complete with 0 bytes, which reads as a
    // lost link: it is dropped instead.
    if (record->data != nullptr && record->size != 0) break;
    queuedSendBytes.fetch_sub(record->size, std::memory_order_acq_rel);
  }

  // The block moves from the record to the write operation and is written
  // without a copy.
  writeOperation.writing = record->data;
  writeOperation.buffer.len = record->size;
  writeOperation.buffer.buf = reinterpret_cast<CHAR*>(record->data);
  record->data = nullptr;
  record->Release();
  ClearOverlapped(writeOperation);

  AddRef();
  bool issued;
  DWORD error = 0;
  if (kind == TransportKind::Socket) {
    issued = WSASend(reinterpret_cast<SOCKET>(handle), &writeOperation.buffer, 1, &bytesSent, 0,
                     &writeOperation.overlapped, nullptr) == 0;
    if (!issued) error = static_cast<DWORD>(WSAGetLastError());
  } else {
    issued = WriteFile(handle, writeOperation.buffer.buf, writeOperation.buffer.len, nullptr,
                       &writeOperation.overlapped) != FALSE;
    if (!issued) error = GetLastError();
  }
  if (issued || error == ERROR_IO_PENDING) {
    writeInProgress = true;
    return true;
  }
  // Failed at once: the system never took the block. The caller holds its own
  // reference, so this one is never the last. Close re-enters connectionLock.
  Release();
  DropWriting();
  writeInProgress = false;
  CloseAfterIssueFailure(error);
  return false;
}

void CALLBACK SimConnectTransport::IoCompleted(DWORD errorCode, DWORD bytesTransferred, LPOVERLAPPED overlapped) {
  if (overlapped == nullptr) return;
  IoOperation* operation = CONTAINING_RECORD(overlapped, IoOperation, overlapped);
  SimConnectTransport* transport = operation->owner;
  // From here on this routine owns the reference that the issue added, and
  // every path drops it exactly once.

  // After a Close, outstanding operations complete (usually with an error or 0
  // bytes) and only let go of the transport; nothing is reported twice.
  if (transport->State() != ConnectionState::Connected) {
    transport->Release();
    return;
  }

  if (errorCode != 0) {
    // On a pipe, a message longer than the read continues in the following
    // read: process what arrived. Windows reports the NTSTATUS, Wine the Win32
    // code, and Wine passes 0 bytes with any status other than success, so the
    // count is taken from the OVERLAPPED.
    bool moreData = transport->kind == TransportKind::Pipe &&
                    (errorCode == kStatusBufferOverflow || errorCode == ERROR_MORE_DATA);
    if (!moreData) {
      transport_detail::IoFailure failure = transport_detail::MapIoFailure(errorCode);
      SetLastError(errorCode);
      transport->Close(failure.kind, failure.status);
      transport->Release();
      return;
    }
    bytesTransferred = static_cast<DWORD>(overlapped->InternalHigh);
  }

  if (bytesTransferred == 0) {
    transport->Close(FailureKind::ZeroBytes, kStatusLinkFailed);
    transport->Release();
    return;
  }

  if (operation->isWrite) {
    // A completion counts as the whole write; the next queued block, if any,
    // goes out at once.
    {
      CriticalSectionGuard guard(transport->connectionLock);
      transport->StartWrite(true);
    }
    transport->Release();
    return;
  }

  framing::ReceiveBuffer& buffer = transport->receiveBuffer;
  uint32_t room = framing::FreeSpaceLength(buffer);
  buffer.writePos += bytesTransferred < room ? bytesTransferred : room;

  framing::ExtractResult code;
  while ((code = framing::ExtractMessage(buffer, *transport->message, transport->maxReceiveSize)) ==
         framing::ExtractResult::Message) {
    transport->OnMessage(*transport->message);
    // Closed meanwhile by its owner on another thread: no more hand-overs.
    if (transport->State() != ConnectionState::Connected) break;
  }

  switch (code) {
    case framing::ExtractResult::NeedMore:
      transport->PostReceive();  // does nothing once the connection is closed
      break;
    case framing::ExtractResult::TooLarge:
      transport->Close(FailureKind::SizeTooLarge, kStatusAbort);
      break;
    case framing::ExtractResult::BufferFull:
      // The message would need a receive buffer above the ceiling: treated as
      // a size the connection cannot take.
      transport->Close(FailureKind::SizeTooLarge, kStatusAbort);
      break;
    case framing::ExtractResult::Malformed:
      transport->Close(FailureKind::MalformedSize, kStatusAbort);
      break;
    case framing::ExtractResult::NoMemory:
      transport->Close(FailureKind::NoMemory, kStatusOutOfMemory);
      break;
    case framing::ExtractResult::Message:
      break;  // closed while handing over
  }
  transport->Release();
}
