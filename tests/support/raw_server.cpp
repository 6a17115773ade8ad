#include "support/raw_server.h"

#include <cstring>

namespace {

bool g_winsockStarted = [] {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();

}  // namespace

std::unique_ptr<RawServer> RawServer::ListenPipe(const std::wstring& path) {
  std::unique_ptr<RawServer> server(new RawServer());
  server->isPipe_ = true;
  server->pipe_ = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
  if (server->pipe_ == INVALID_HANDLE_VALUE) return nullptr;
  server->event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return server;
}

std::unique_ptr<RawServer> RawServer::ListenTcp(int family, uint16_t port) {
  if (!g_winsockStarted) return nullptr;
  std::unique_ptr<RawServer> server(new RawServer());
  server->listener_ = socket(family, SOCK_STREAM, IPPROTO_TCP);
  if (server->listener_ == INVALID_SOCKET) return nullptr;
  sockaddr_storage address{};
  int length = 0;
  if (family == AF_INET6) {
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&address);
    a6->sin6_family = AF_INET6;
    a6->sin6_addr = in6addr_loopback;
    a6->sin6_port = htons(port);
    length = sizeof(sockaddr_in6);
  } else {
    auto* a4 = reinterpret_cast<sockaddr_in*>(&address);
    a4->sin_family = AF_INET;
    a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a4->sin_port = htons(port);
    length = sizeof(sockaddr_in);
  }
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
  if (event_ != nullptr) CloseHandle(event_);
}

bool RawServer::Accept(DWORD timeoutMs) {
  if (isPipe_) {
    if (pipe_ == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_;
    ResetEvent(event_);
    if (ConnectNamedPipe(pipe_, &overlapped)) return true;
    DWORD error = GetLastError();
    // ERROR_NO_DATA: a client connected and has already closed its end.
    if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) return true;
    if (error != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(event_, timeoutMs) != WAIT_OBJECT_0) {
      CancelIo(pipe_);
      DWORD ignored;
      GetOverlappedResult(pipe_, &overlapped, &ignored, TRUE);
      return false;
    }
    DWORD ignored;
    return GetOverlappedResult(pipe_, &overlapped, &ignored, FALSE) != FALSE;
  }
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(listener_, &readable);
  timeval wait{static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
  if (select(0, &readable, nullptr, nullptr, &wait) != 1) return false;
  client_ = accept(listener_, nullptr, nullptr);
  return client_ != INVALID_SOCKET;
}

bool RawServer::ReadSome(void* buffer, size_t n, DWORD timeoutMs, size_t* got) {
  *got = 0;
  if (isPipe_) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_;
    ResetEvent(event_);
    DWORD count = 0;
    if (!ReadFile(pipe_, buffer, static_cast<DWORD>(n), &count, &overlapped)) {
      if (GetLastError() != ERROR_IO_PENDING) return false;
      if (WaitForSingleObject(event_, timeoutMs) != WAIT_OBJECT_0) {
        CancelIo(pipe_);
        GetOverlappedResult(pipe_, &overlapped, &count, TRUE);
        return false;
      }
      if (!GetOverlappedResult(pipe_, &overlapped, &count, FALSE)) return false;
    }
    *got = count;
    return count > 0;
  }
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(client_, &readable);
  timeval wait{static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
  if (select(0, &readable, nullptr, nullptr, &wait) != 1) return false;
  int count = recv(client_, static_cast<char*>(buffer), static_cast<int>(n), 0);
  if (count <= 0) return false;
  *got = static_cast<size_t>(count);
  return true;
}

bool RawServer::ReadExact(void* buffer, size_t n, DWORD timeoutMs) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  DWORD deadline = GetTickCount() + timeoutMs;
  size_t done = 0;
  while (done < n) {
    DWORD now = GetTickCount();
    if (static_cast<int32_t>(deadline - now) <= 0) return false;
    size_t got = 0;
    if (!ReadSome(bytes + done, n - done, deadline - now, &got)) return false;
    done += got;
  }
  return true;
}

std::vector<uint8_t> RawServer::ReadMessage(DWORD timeoutMs) {
  uint8_t prefix[4];
  if (!ReadExact(prefix, 4, timeoutMs)) return {};
  uint32_t size = static_cast<uint32_t>(prefix[0]) | (static_cast<uint32_t>(prefix[1]) << 8) |
                  (static_cast<uint32_t>(prefix[2]) << 16) | (static_cast<uint32_t>(prefix[3]) << 24);
  if (size < 4 || size > (64u << 20)) return {};
  std::vector<uint8_t> message(size);
  std::memcpy(message.data(), prefix, 4);
  if (!ReadExact(message.data() + 4, size - 4, timeoutMs)) return {};
  return message;
}

bool RawServer::WaitForClientClose(DWORD timeoutMs) {
  DWORD deadline = GetTickCount() + timeoutMs;
  for (;;) {
    DWORD now = GetTickCount();
    if (static_cast<int32_t>(deadline - now) <= 0) return false;
    uint8_t scratch[4096];
    size_t got = 0;
    if (ReadSome(scratch, sizeof scratch, deadline - now, &got)) continue;  // discard bytes still arriving
    if (isPipe_) {
      DWORD error = GetLastError();
      return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
    }
    // recv returned 0 or an error before the time-out.
    return static_cast<int32_t>(deadline - GetTickCount()) > 0;
  }
}

bool RawServer::Write(const void* data, size_t n) {
  if (isPipe_) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_;
    ResetEvent(event_);
    DWORD count = 0;
    if (!WriteFile(pipe_, data, static_cast<DWORD>(n), &count, &overlapped)) {
      if (GetLastError() != ERROR_IO_PENDING) return false;
      if (!GetOverlappedResult(pipe_, &overlapped, &count, TRUE)) return false;
    }
    return count == n;
  }
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < n) {
    int sent = send(client_, bytes + done, static_cast<int>(n - done), 0);
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

void RawServer::CloseClient() {
  if (isPipe_) {
    if (pipe_ != INVALID_HANDLE_VALUE) {
      DisconnectNamedPipe(pipe_);
      CloseHandle(pipe_);
      pipe_ = INVALID_HANDLE_VALUE;
    }
    return;
  }
  if (client_ != INVALID_SOCKET) {
    closesocket(client_);
    client_ = INVALID_SOCKET;
  }
}
