// One connection attempt over TCP.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "simconnect/transport/transport.h"
#include "simconnect/transport/transport_internal.h"

namespace transport_detail {

bool ConnectSocket(SimConnectTransport* transport, int family, const wchar_t* address, const wchar_t* port,
                   uint32_t maxReceiveSize, bool disableNagle) {
  ADDRINFOW hints = {};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  UniqueAddressList addresses;
  if (GetAddrInfoW(address, port, &hints, addresses.Receive()) != 0 || addresses.Get() == nullptr) return false;

  // Only the first resolved address is tried.
  const ADDRINFOW* entry = addresses.Get();
  UniqueSocket connection(socket(entry->ai_family, entry->ai_socktype, entry->ai_protocol));
  if (!connection.Valid()) return false;
  // Blocking, with the system's own time-out.
  if (connect(connection.Get(), entry->ai_addr, static_cast<int>(entry->ai_addrlen)) == SOCKET_ERROR) return false;

  HANDLE handle = reinterpret_cast<HANDLE>(connection.Get());
  if (!BindIoCompletionCallback(handle, &SimConnectTransport::IoCompleted, 0)) return false;
  if (!transport->AttachHandle(handle, maxReceiveSize, disableNagle)) return false;
  connection.Release();  // the transport owns it now
  transport->Start();
  transport->PostReceive();
  return true;
}

}  // namespace transport_detail
