// Pieces shared by the transport's own files; not for users of the transport.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "simconnect/critical_section.h"
#include "simconnect/owners.h"
#include "simconnect/transport/transport.h"

namespace transport_detail {

// Why an operation ended and the status the connection records for it.
struct IoFailure {
  uint32_t kind;
  int32_t status;
};

// The one place where OS codes become failure kinds. Accepts both the Win32 and
// Winsock error codes of a failed issue or of a completion (the thread pool of
// Wine converts completion statuses to Win32 codes) and the NTSTATUS values
// that Windows hands to completion routines.
IoFailure MapIoFailure(DWORD code);

// Holds the transport's connectionLock for a scope.
class ConnectionLockGuard : public CriticalSectionGuard {
 public:
  explicit ConnectionLockGuard(SimConnectTransport& transport) : CriticalSectionGuard(transport.connectionLock) {}
};

// Connection attempts of each kind (ConnectTransport dispatches on the kind).
uint32_t ConnectPipe(SimConnectTransport* transport, const wchar_t* address, const wchar_t* port,
                     uint32_t maxReceiveSize, bool disableNagle);
uint32_t ConnectSocket(SimConnectTransport* transport, int family, const wchar_t* address, const wchar_t* port,
                       uint32_t maxReceiveSize, bool disableNagle);

// Sets the process-wide ConnectionId counter: the next Start takes value + 1
// (1 after 0xFFFFFFFF). Lets tests reach the wrap.
void SetConnectionIdCounter(uint32_t value);

}  // namespace transport_detail
