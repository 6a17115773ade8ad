// Helpers for the simhost tests: a host on a pipe of its own with its console
// lines captured, clients of the project's SimConnect library that reach that
// pipe through SimConnect.cfg, and a raw pipe client for bytes the library
// would never send.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim_host.h"
#include "support/log_capture.h"

// Options for a host on a fresh pipe name, no TCP, no registry, a manual clock.
simhost::SimHostOptions TestHostOptions(const std::wstring& pipeName, LogCapture& log);

// A unique pipe name (below \\.\pipe\) for this test program.
std::wstring UniquePipeName(const char* tag);

// Writes SimConnect.cfg in the current folder with [SimConnect.<index>] sections.
struct ConfigSection {
  uint32_t index;
  std::string protocol;  // Pipe, IPv6, IPv4
  std::string address;
  std::string port;
};
bool WriteClientConfig(const std::vector<ConfigSection>& sections);
std::string Narrow(const std::wstring& text);

// A received message, copied out of the client library.
struct Received {
  std::vector<uint8_t> bytes;
  uint32_t Size() const;
  uint32_t Kind() const;
  uint32_t U32(size_t offset) const;
  std::string Text(size_t offset) const;  // up to the NUL or the end
};

// A connection opened with SimConnect_Open (configuration index `index`).
class LibraryClient {
 public:
  LibraryClient() = default;
  ~LibraryClient();
  LibraryClient(const LibraryClient&) = delete;
  LibraryClient& operator=(const LibraryClient&) = delete;

  HRESULT Open(const char* name, uint32_t configIndex);
  HANDLE handle() const { return handle_; }
  uint32_t LastSendId() const;

  // The next message of the connection, waiting up to `timeoutMs`; false on time-out.
  bool Next(Received* message, DWORD timeoutMs = 5000);
  // The next message of `kind`, skipping others (they are kept in `skipped`).
  bool NextOfKind(uint32_t kind, Received* message, DWORD timeoutMs = 5000);
  // Sends a period-1 TITLE request with `requestId` (definition `definitionId`,
  // which must hold TITLE) and collects every message up to its answer.
  // Messages before it are returned in order; false when the answer never came.
  bool CollectUntilMarker(uint32_t definitionId, uint32_t requestId, std::vector<Received>* before);
  void Close();

  std::deque<Received> skipped;

 private:
  // The next message from the library itself, past `skipped`.
  bool Pull(Received* message, DWORD timeoutMs);

  HANDLE handle_ = nullptr;
  HANDLE event_ = nullptr;
};

// A client that writes raw bytes to the pipe and reads raw messages.
class RawPipeClient {
 public:
  ~RawPipeClient();
  bool Connect(const std::wstring& pipeName, DWORD timeoutMs = 5000);
  bool Write(const std::vector<uint8_t>& bytes);
  // One whole message; false on time-out or when the pipe is closed.
  bool Read(Received* message, DWORD timeoutMs = 5000);
  // True when the server has closed the pipe (within `timeoutMs`).
  bool WaitForClose(DWORD timeoutMs = 5000);

 private:
  bool ReadExact(uint8_t* buffer, size_t n, DWORD timeoutMs);
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

// A request's bytes written through the client library's own encoders, with
// this SendID.
std::vector<uint8_t> OpenRequestBytes(const char* name, uint32_t sendId);
