// The pipe instances and TCP listeners, and the thread that accepts clients.
#include "listener.h"

#include <ws2tcpip.h>

#include "host_log.h"

namespace simhost {

namespace {

constexpr DWORD kPipeBufferSize = 65536;

}  // namespace

bool Listener::Start(const ListenerOptions& options, ClientHandler onClient, std::string* error) {
  options_ = options;
  onClient_ = std::move(onClient);
  stopEvent_ = MakeEvent(true);
  if (!options_.pipePath.empty()) {
    pipeEvent_ = MakeEvent(true);
    // FILE_FLAG_FIRST_PIPE_INSTANCE refuses a name already served, but Wine 8
    // ignores it; so look for an existing server first. Without one the wait
    // fails at once with ERROR_FILE_NOT_FOUND.
    if (WaitNamedPipeW(options_.pipePath.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
      *error = "cannot create the pipe " + Narrow(options_.pipePath) + ": another server owns it";
      return false;
    }
    if (!CreatePipeInstance(true)) {
      DWORD code = GetLastError();
      *error = "cannot create the pipe " + Narrow(options_.pipePath) +
               (code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY ? ": another server owns it"
                                                                       : " (error " + std::to_string(code) + ")");
      return false;
    }
  }
  if (options_.tcp6 && !ListenTcp(AF_INET6, options_.port6, &socket6_, &event6_, &port6_, error)) return false;
  if (options_.tcp4 && !ListenTcp(AF_INET, options_.port4, &socket4_, &event4_, &port4_, error)) return false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void Listener::Stop() {
  if (thread_.joinable()) {
    SetEvent(stopEvent_.Get());
    thread_.join();
  }
  // Also after a Start that failed half-way: nothing keeps the name or ports.
  pipe_.Reset();
  socket6_.Reset();
  socket4_.Reset();
}

bool Listener::CreatePipeInstance(bool first) {
  // The first instance claims the name: a second server on the same name
  // fails here instead of sharing clients with the first.
  DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  pipe_.Reset(CreateNamedPipeW(options_.pipePath.c_str(), openMode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                               PIPE_UNLIMITED_INSTANCES, kPipeBufferSize, kPipeBufferSize, 0, nullptr));
  return pipe_.Valid();
}

bool Listener::ListenTcp(int family, uint16_t port, UniqueSocket* listener, UniqueHandle* event, uint16_t* bound,
                         std::string* error) {
  const char* name = family == AF_INET6 ? "::1" : "127.0.0.1";
  UniqueSocket s(socket(family, SOCK_STREAM, IPPROTO_TCP));
  if (!s.Valid()) {
    *error = std::string("cannot create a socket for ") + name + " (error " + std::to_string(WSAGetLastError()) + ")";
    return false;
  }
  sockaddr_storage address{};
  int length = 0;
  if (family == AF_INET6) {
    DWORD only6 = 1;
    setsockopt(s.Get(), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only6), sizeof only6);
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(port);
    a->sin6_addr = in6addr_loopback;
    length = sizeof(sockaddr_in6);
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof(sockaddr_in);
  }
  if (bind(s.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(s.Get(), SOMAXCONN) != 0) {
    *error = std::string("cannot listen on ") + name + " port " + std::to_string(port) + " (error " +
             std::to_string(WSAGetLastError()) + ")";
    return false;
  }
  if (getsockname(s.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *error = std::string("cannot read the port of ") + name;
    return false;
  }
  *bound = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                   : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  *event = MakeEvent(true);
  if (WSAEventSelect(s.Get(), event->Get(), FD_ACCEPT) != 0) {
    *error = std::string("cannot wait for clients on ") + name;
    return false;
  }
  *listener = std::move(s);
  return true;
}

bool Listener::WaitForPipeClient() {
  pipeOverlapped_ = OVERLAPPED{};
  pipeOverlapped_.hEvent = pipeEvent_.Get();
  ResetEvent(pipeEvent_.Get());
  if (ConnectNamedPipe(pipe_.Get(), &pipeOverlapped_)) {
    pipeConnectPending_ = true;  // completed at once; the event is set
    return true;
  }
  DWORD code = GetLastError();
  if (code == ERROR_IO_PENDING) {
    pipeConnectPending_ = true;
    return true;
  }
  if (code == ERROR_PIPE_CONNECTED) {
    // A client opened the instance between its creation and this call.
    pipeConnectPending_ = false;
    SetEvent(pipeEvent_.Get());
    return true;
  }
  return false;
}

void Listener::AcceptPipeClient() {
  bool connected = true;
  if (pipeConnectPending_) {
    pipeConnectPending_ = false;
    DWORD ignored = 0;
    connected = GetOverlappedResult(pipe_.Get(), &pipeOverlapped_, &ignored, FALSE) ||
                GetLastError() == ERROR_PIPE_CONNECTED;
  }
  if (connected) {
    onClient_(MakePipeChannel(pipe_.Release()), "pipe");
  } else {
    pipe_.Reset();  // a client that came and went at once
  }
  // The next client gets a fresh instance. Should that fail, retry a few
  // times before giving up on the pipe (the sockets keep working).
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (CreatePipeInstance(false) && WaitForPipeClient()) return;
    pipe_.Reset();
    if (WaitForSingleObject(stopEvent_.Get(), 100) == WAIT_OBJECT_0) return;
  }
}

void Listener::AcceptTcpClients(SOCKET listener, HANDLE event, const char* transport) {
  WSANETWORKEVENTS happened{};
  WSAEnumNetworkEvents(listener, event, &happened);  // resets the event
  for (;;) {
    SOCKET client = accept(listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) return;  // WSAEWOULDBLOCK: no more waiting
    // The accepted socket inherits the listener's event selection and with it
    // non-blocking mode; undo both before overlapped use.
    WSAEventSelect(client, nullptr, 0);
    u_long blocking = 0;
    ioctlsocket(client, FIONBIO, &blocking);
    DWORD noDelay = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    onClient_(MakeSocketChannel(client), transport);
  }
}

void Listener::Run() {
  if (pipe_.Valid() && !WaitForPipeClient()) pipe_.Reset();
  for (;;) {
    HANDLE handles[4];
    const char* kinds[4];
    DWORD count = 0;
    handles[count] = stopEvent_.Get();
    kinds[count++] = "stop";
    if (pipe_.Valid()) {
      handles[count] = pipeEvent_.Get();
      kinds[count++] = "pipe";
    }
    if (socket6_.Valid()) {
      handles[count] = event6_.Get();
      kinds[count++] = "tcp6";
    }
    if (socket4_.Valid()) {
      handles[count] = event4_.Get();
      kinds[count++] = "tcp4";
    }
    DWORD r = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
    if (r >= WAIT_OBJECT_0 + count || r == WAIT_OBJECT_0) break;
    const std::string kind = kinds[r - WAIT_OBJECT_0];
    if (kind == "pipe") {
      AcceptPipeClient();
    } else if (kind == "tcp6") {
      AcceptTcpClients(socket6_.Get(), event6_.Get(), "tcp6");
    } else {
      AcceptTcpClients(socket4_.Get(), event4_.Get(), "tcp4");
    }
  }
  // The waiting instance goes; its pending connect finishes with the close,
  // before this thread (which issued it) ends.
  if (pipe_.Valid()) {
    pipe_.Reset();
    if (pipeConnectPending_) WaitForSingleObject(pipeEvent_.Get(), 2000);
    pipeConnectPending_ = false;
  }
}

}  // namespace simhost
