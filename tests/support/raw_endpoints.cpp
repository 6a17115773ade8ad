#include "support/raw_endpoints.h"

#include <cstring>

namespace {

// The time left until `deadline` (a GetTickCount value); 0 once it passed.
DWORD Remaining(DWORD deadline) {
  int32_t left = static_cast<int32_t>(deadline - GetTickCount());
  return left > 0 ? static_cast<DWORD>(left) : 0;
}

// Fills `address` with the loopback address of `family` and `port`.
int Loopback(int family, uint16_t port, sockaddr_storage* address) {
  *address = {};
  if (family == AF_INET6) {
    auto* a6 = reinterpret_cast<sockaddr_in6*>(address);
    a6->sin6_family = AF_INET6;
    a6->sin6_addr = in6addr_loopback;
    a6->sin6_port = htons(port);
    return sizeof(sockaddr_in6);
  }
  auto* a4 = reinterpret_cast<sockaddr_in*>(address);
  a4->sin_family = AF_INET;
  a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a4->sin_port = htons(port);
  return sizeof(sockaddr_in);
}

// Waits for one socket to become readable (or writable); false on time-out.
bool SocketReady(SOCKET socket, bool write, DWORD timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket, &set);
  timeval wait{static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
  return select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &wait) == 1;
}

// Completes an overlapped pipe operation within the time-out; a late one is
// cancelled. False when it failed or timed out (the last error says which).
bool FinishPipeIo(HANDLE pipe, HANDLE event, OVERLAPPED* overlapped, BOOL started, DWORD timeoutMs, DWORD* count) {
  if (!started && GetLastError() != ERROR_IO_PENDING) return false;
  if (WaitForSingleObject(event, timeoutMs) != WAIT_OBJECT_0) {
    CancelIo(pipe);
    GetOverlappedResult(pipe, overlapped, count, TRUE);
    SetLastError(WAIT_TIMEOUT);
    return false;
  }
  return GetOverlappedResult(pipe, overlapped, count, FALSE) != FALSE;
}

}  // namespace

bool StartTestWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

RawEndpoint::RawEndpoint() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

RawEndpoint::~RawEndpoint() {
  CloseStream();
  if (event_ != nullptr) CloseHandle(event_);
}

void RawEndpoint::CloseStream() {
  if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
  pipe_ = INVALID_HANDLE_VALUE;
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

bool RawEndpoint::PipeIo(bool write, void* buffer, size_t n, DWORD timeoutMs, DWORD* count) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = event_;
  ResetEvent(event_);
  const DWORD size = static_cast<DWORD>(n);
  const BOOL started = write ? WriteFile(pipe_, buffer, size, count, &overlapped)
                             : ReadFile(pipe_, buffer, size, count, &overlapped);
  return FinishPipeIo(pipe_, event_, &overlapped, started, timeoutMs, count);
}

bool RawEndpoint::ReadSome(void* buffer, size_t n, DWORD timeoutMs, size_t* got) {
  *got = 0;
  if (pipe_ != INVALID_HANDLE_VALUE) {
    DWORD count = 0;
    if (!PipeIo(false, buffer, n, timeoutMs, &count)) return false;
    *got = count;
    return count > 0;
  }
  if (socket_ == INVALID_SOCKET || !SocketReady(socket_, false, timeoutMs)) return false;
  int count = recv(socket_, static_cast<char*>(buffer), static_cast<int>(n), 0);
  if (count <= 0) return false;
  *got = static_cast<size_t>(count);
  return true;
}

bool RawEndpoint::ReadExact(void* buffer, size_t n, DWORD timeoutMs) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  const DWORD deadline = GetTickCount() + timeoutMs;
  for (size_t done = 0; done < n;) {
    size_t got = 0;
    DWORD left = Remaining(deadline);
    if (left == 0 || !ReadSome(bytes + done, n - done, left, &got)) return false;
    done += got;
  }
  return true;
}

std::vector<uint8_t> RawEndpoint::ReadMessage(DWORD timeoutMs) {
  const DWORD deadline = GetTickCount() + timeoutMs;
  uint8_t prefix[4];
  if (!ReadExact(prefix, 4, timeoutMs)) return {};
  uint32_t size = static_cast<uint32_t>(prefix[0]) | (static_cast<uint32_t>(prefix[1]) << 8) |
                  (static_cast<uint32_t>(prefix[2]) << 16) | (static_cast<uint32_t>(prefix[3]) << 24);
  if (size < 4 || size > (64u << 20)) return {};
  std::vector<uint8_t> message(size);
  std::memcpy(message.data(), prefix, 4);
  if (!ReadExact(message.data() + 4, size - 4, Remaining(deadline))) return {};
  return message;
}

bool RawEndpoint::WaitForPeerClose(DWORD timeoutMs) {
  const DWORD deadline = GetTickCount() + timeoutMs;
  for (;;) {
    DWORD left = Remaining(deadline);
    if (left == 0) return false;
    uint8_t scratch[4096];
    size_t got = 0;
    if (ReadSome(scratch, sizeof scratch, left, &got)) continue;
    if (pipe_ != INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
    }
    // recv found the end of the stream or an error before the time-out.
    return Remaining(deadline) > 0;
  }
}

bool RawEndpoint::Write(const void* data, size_t n, DWORD timeoutMs) {
  if (pipe_ != INVALID_HANDLE_VALUE) {
    DWORD count = 0;
    return PipeIo(true, const_cast<void*>(data), n, timeoutMs, &count) && count == n;
  }
  const char* bytes = static_cast<const char*>(data);
  const DWORD deadline = GetTickCount() + timeoutMs;
  for (size_t done = 0; done < n;) {
    DWORD left = Remaining(deadline);
    if (socket_ == INVALID_SOCKET || left == 0 || !SocketReady(socket_, true, left)) return false;
    int sent = send(socket_, bytes + done, static_cast<int>(n - done), 0);
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

std::unique_ptr<RawServer> RawServer::ListenPipe(const std::wstring& path, DWORD instances) {
  std::unique_ptr<RawServer> server(new RawServer());
  server->pipe_ = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, instances, 65536, 65536, 0,
                                   nullptr);
  if (server->pipe_ == INVALID_HANDLE_VALUE || server->event_ == nullptr) return nullptr;
  return server;
}

std::unique_ptr<RawServer> RawServer::ListenTcp(int family, uint16_t port) {
  if (!StartTestWinsock()) return nullptr;
  std::unique_ptr<RawServer> server(new RawServer());
  server->listener_ = socket(family, SOCK_STREAM, IPPROTO_TCP);
  if (server->listener_ == INVALID_SOCKET) return nullptr;
  sockaddr_storage address;
  int length = Loopback(family, port, &address);
  if (bind(server->listener_, reinterpret_cast<sockaddr*>(&address), length) != 0) return nullptr;
  if (listen(server->listener_, 4) != 0) return nullptr;
  sockaddr_storage bound{};
  int boundLength = sizeof bound;
  getsockname(server->listener_, reinterpret_cast<sockaddr*>(&bound), &boundLength);
  server->port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                           : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return server;
}

RawServer::~RawServer() {
  CloseClient();
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
}

bool RawServer::Accept(DWORD timeoutMs) {
  if (listener_ != INVALID_SOCKET) {
    if (!SocketReady(listener_, false, timeoutMs)) return false;
    socket_ = accept(listener_, nullptr, nullptr);
    return socket_ != INVALID_SOCKET;
  }
  if (pipe_ == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event_;
  ResetEvent(event_);
  if (ConnectNamedPipe(pipe_, &overlapped)) return true;
  DWORD error = GetLastError();
  // ERROR_NO_DATA: a client connected and has already closed its end.
  if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) return true;
  DWORD ignored = 0;
  return FinishPipeIo(pipe_, event_, &overlapped, FALSE, timeoutMs, &ignored);
}

void RawServer::CloseClient() {
  if (pipe_ != INVALID_HANDLE_VALUE) DisconnectNamedPipe(pipe_);
  CloseStream();
}

bool RawClient::ConnectPipe(const std::wstring& path, DWORD timeoutMs) {
  CloseStream();
  const DWORD deadline = GetTickCount() + timeoutMs;
  for (;;) {
    pipe_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                        nullptr);
    if (pipe_ != INVALID_HANDLE_VALUE) return true;
    DWORD left = Remaining(deadline);
    if (left == 0) return false;
    if (GetLastError() == ERROR_PIPE_BUSY) {
      WaitNamedPipeW(path.c_str(), left < 100 ? left : 100);
    } else {
      Sleep(5);
    }
  }
}
