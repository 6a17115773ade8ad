// Pieces shared by the transport's own files; not for users of the transport.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "simconnect/owners.h"
#include "simconnect/transport/transport.h"

namespace transport_detail {

// Why an operation ended and the status the connection records for it.
struct IoFailure {
  FailureKind kind;
  int32_t status;
};

// The one place where OS codes become failure kinds. Accepts both the Win32 and
// Winsock error codes of a failed issue or of a completion (the thread pool of
// Wine converts completion statuses to Win32 codes) and the NTSTATUS values
// that Windows hands to completion routines.
IoFailure MapIoFailure(DWORD code);

// Connection attempts of each kind (ConnectTransport dispatches on the kind).
bool ConnectPipe(SimConnectTransport* transport, const wchar_t* address, const wchar_t* port,
                 uint32_t maxReceiveSize, bool disableNagle);
bool ConnectSocket(SimConnectTransport* transport, int family, const wchar_t* address, const wchar_t* port,
                   uint32_t maxReceiveSize, bool disableNagle);

// Sets the process-wide ConnectionId counter: the next Start takes value + 1
// (1 after 0xFFFFFFFF). Lets tests reach the wrap.
void SetConnectionIdCounter(uint32_t value);

}  // namespace transport_detail
