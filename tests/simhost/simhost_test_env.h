// What tests/e2e, tests/faults and tests/inprocess still take from here: a
// host on a pipe of its own, SimConnect.cfg sections, and a raw pipe client
// for bytes the library would never send. simhost's own tests use none of it;
// it goes once those folders use the support layer's pieces.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim_host.h"
#include "support/log_capture.h"

// A host on `pipeName` (below \\.\pipe\), no TCP, no registry, a manual clock.
simhost::SimHostOptions TestHostOptions(const std::wstring& pipeName, LogCapture& log);
// A unique pipe name (below \\.\pipe\) for this test program.
std::wstring UniquePipeName(const char* tag);
std::string Narrow(const std::wstring& text);

// Writes SimConnect.cfg in the current folder with [SimConnect.<index>] sections.
struct ConfigSection {
  uint32_t index;
  std::string protocol;  // Pipe, IPv6, IPv4
  std::string address;
  std::string port;
};
bool WriteClientConfig(const std::vector<ConfigSection>& sections);

// A received message.
struct Received {
  std::vector<uint8_t> bytes;
  uint32_t Size() const;
  uint32_t Kind() const;
  uint32_t U32(size_t offset) const;
};

// A client that writes raw bytes to the pipe and reads whole messages.
class RawPipeClient {
 public:
  ~RawPipeClient();
  bool Connect(const std::wstring& pipeName, DWORD timeoutMs = 5000);
  bool Write(const std::vector<uint8_t>& bytes);
  // One whole message; false on time-out or when the pipe is closed.
  bool Read(Received* message, DWORD timeoutMs = 5000);

 private:
  bool ReadExact(uint8_t* buffer, size_t n, DWORD timeoutMs);
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

// The Open request as the client library writes it, with this SendID.
std::vector<uint8_t> OpenRequestBytes(const char* name, uint32_t sendId);
