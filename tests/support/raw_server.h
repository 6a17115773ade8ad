// A minimal byte-level server for client tests: one named-pipe instance or one
// loopback TCP listener, one client at a time. The test thread drives it
// synchronously; every wait has a time-out so that a broken client fails the
// test instead of hanging it.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class RawServer {
 public:
  // Creates one instance of the pipe at `path` (e.g. \\.\pipe\name), byte mode.
  // Null on failure.
  static std::unique_ptr<RawServer> ListenPipe(const std::wstring& path);
  // Listens on 127.0.0.1 (AF_INET) or ::1 (AF_INET6), on `port` or, with 0, a
  // port the system chooses. Null on failure.
  static std::unique_ptr<RawServer> ListenTcp(int family, uint16_t port = 0);
  ~RawServer();

  uint16_t Port() const { return port_; }
  std::wstring PortText() const { return std::to_wstring(port_); }

  // Waits for the client to connect.
  bool Accept(DWORD timeoutMs = 5000);
  // Reads exactly n bytes.
  bool ReadExact(void* buffer, size_t n, DWORD timeoutMs = 5000);
  // Reads one size-prefixed message (its size field included); empty on
  // failure, time-out or a size below 4.
  std::vector<uint8_t> ReadMessage(DWORD timeoutMs = 5000);
  // True when the client closed its end (a read finds the end of the stream)
  // within the time-out.
  bool WaitForClientClose(DWORD timeoutMs = 5000);
  bool Write(const void* data, size_t n);
  bool Write(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
  // Closes the connection to the client (a pipe is disconnected and closed).
  void CloseClient();

 private:
  RawServer() = default;
  bool ReadSome(void* buffer, size_t n, DWORD timeoutMs, size_t* got);

  bool isPipe_ = false;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET client_ = INVALID_SOCKET;
  uint16_t port_ = 0;
};
