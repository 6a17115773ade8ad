// One connection attempt over a named pipe.
#include <winsock2.h>
#include <windows.h>

#include "simconnect/transport/transport.h"
#include "simconnect/transport/transport_internal.h"

namespace {

// How long one wait for a free pipe instance lasts.
constexpr DWORD kPipeBusyWaitMs = 5000;

HANDLE OpenPipe(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

}  // namespace

namespace transport_detail {

bool ConnectPipe(SimConnectTransport* transport, const wchar_t* address, const wchar_t* port,
                 uint32_t maxReceiveSize, bool disableNagle) {
  wchar_t path[MAX_PATH];
  FormatPipePath(path, address, port);

  // All instances busy: wait for one to become free and try again, as often
  // as it takes; the attempt fails as soon as one wait fails (time-out or no
  // such pipe). The pipe's read mode is left as opening it sets it.
  HANDLE opened = OpenPipe(path);
  while (opened == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_PIPE_BUSY) return false;
    if (!WaitNamedPipeW(path, kPipeBusyWaitMs)) return false;
    opened = OpenPipe(path);
  }
  UniqueFile pipe(opened);

  if (!BindIoCompletionCallback(pipe.Get(), &SimConnectTransport::IoCompleted, 0)) return false;
  if (!transport->AttachHandle(pipe.Get(), maxReceiveSize, disableNagle)) return false;
  pipe.Release();  // the transport owns it now
  transport->Start();
  transport->PostReceive();
  return true;
}

}  // namespace transport_detail
