// Byte-level ends of a connection for tests: a raw server (one named-pipe
// instance or one loopback TCP listener, one client at a time) and a raw pipe
// client. The test thread drives them synchronously; every wait has a
// time-out, so that a peer that misbehaves fails the test instead of hanging it.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The connected stream of either end: an overlapped pipe handle or a socket.
class RawEndpoint {
 public:
  virtual ~RawEndpoint();
  RawEndpoint(const RawEndpoint&) = delete;
  RawEndpoint& operator=(const RawEndpoint&) = delete;

  // Up to n bytes as they come; false on failure, end of stream or time-out
  // (a read that times out is cancelled, and what it may have read is lost).
  bool ReadSome(void* buffer, size_t n, DWORD timeoutMs, size_t* got);
  // Reads exactly n bytes.
  bool ReadExact(void* buffer, size_t n, DWORD timeoutMs = 5000);
  // Reads one size-prefixed message (its size field included); empty on
  // failure, time-out or a size below 4 or above 64 MiB.
  std::vector<uint8_t> ReadMessage(DWORD timeoutMs = 5000);
  // Writes all n bytes.
  bool Write(const void* data, size_t n, DWORD timeoutMs = 5000);
  bool Write(const std::vector<uint8_t>& bytes, DWORD timeoutMs = 5000) {
    return Write(bytes.data(), bytes.size(), timeoutMs);
  }

 protected:
  RawEndpoint();
  // True when the peer closed its end within the time-out (bytes still
  // arriving are read and dropped).
  bool WaitForPeerClose(DWORD timeoutMs);
  void CloseStream();
  // One overlapped read or write on the pipe, completed (or cancelled) within
  // the time-out; `count` gets the bytes moved.
  bool PipeIo(bool write, void* buffer, size_t n, DWORD timeoutMs, DWORD* count);

  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;  // manual-reset, for the pipe's overlapped operations
  SOCKET socket_ = INVALID_SOCKET;
};

class RawServer : public RawEndpoint {
 public:
  // Creates one byte-mode instance of the pipe at `path` (\\.\pipe\name),
  // of at most `instances` instances. Null on failure.
  static std::unique_ptr<RawServer> ListenPipe(const std::wstring& path, DWORD instances = 1);
  // Listens on 127.0.0.1 (AF_INET) or ::1 (AF_INET6), on `port` or, with 0, a
  // port the system chooses. Null on failure.
  static std::unique_ptr<RawServer> ListenTcp(int family, uint16_t port = 0);
  ~RawServer() override;

  uint16_t Port() const { return port_; }
  std::wstring PortText() const { return std::to_wstring(port_); }

  // Waits for the client to connect.
  bool Accept(DWORD timeoutMs = 5000);
  bool WaitForClientClose(DWORD timeoutMs = 5000) { return WaitForPeerClose(timeoutMs); }
  // Drops the client: a pipe is disconnected (what the client has not read
  // yet is lost) and closed; a socket is closed.
  void CloseClient();

 private:
  RawServer() = default;
  SOCKET listener_ = INVALID_SOCKET;
  uint16_t port_ = 0;
};

class RawClient : public RawEndpoint {
 public:
  RawClient() = default;
  // Opens the pipe at `path`, waiting for a free instance up to `timeoutMs`.
  bool ConnectPipe(const std::wstring& path, DWORD timeoutMs = 5000);
  void Close() { CloseStream(); }
};

// Starts Winsock 2.2 for the test program once; true when it is started.
bool StartTestWinsock();
