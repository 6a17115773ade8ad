// Test support for programs that link the bridge's code directly: this file's
// Panels and CurrentTick take the place of the module's (time and the panel
// table are the two seams), a small substitute panel table, the real log file
// read back line by line, and a real client connection to a RawServer placed
// in the connection holder.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/raw_server.h"

namespace bridge_test {

// The value CurrentTick returns.
void SetTick(uint32_t tick);

// The log file: computes its path (as process attach does) and opens it afresh,
// truncating what an earlier test left.
void StartLog();
void StopLog();
// The whole file as bytes, or empty when missing.
std::string RawLog();
// The messages of the file's lines, in order, with the timestamps removed.
// Every line must end in CR LF and begin with "dd:mm:yyyy hh:mm:ss " (a test
// failure is recorded otherwise).
std::vector<std::string> LogMessages();
// The messages logged since the last call.
std::vector<std::string> NewLogMessages();

// A panel table of two variables, "ENGINE_RPM" (id 0, 1200.0) and "GEAR_DOWN"
// (id 1, 1.0). Panels points at it while it lives. While `readsThrow` is set,
// reading a value throws std::runtime_error("panel read failed").
class SmallPanels {
 public:
  SmallPanels();
  ~SmallPanels();
  SmallPanels(const SmallPanels&) = delete;
  SmallPanels& operator=(const SmallPanels&) = delete;
  // The table, for a module of its own (the loaded DLL's Panels).
  void* table() { return table_; }
  static std::atomic<bool> readsThrow;

 private:
  void* table_[64] = {};
};

// A client connected over a pipe of its own to a RawServer, held in the
// bridge's connection holder while the object lives.
class HeldConnection {
 public:
  HeldConnection();
  ~HeldConnection();
  HeldConnection(const HeldConnection&) = delete;
  HeldConnection& operator=(const HeldConnection&) = delete;

  bool ok() const { return handle_ != nullptr; }
  HANDLE handle() const { return handle_; }
  RawServer& server() { return *server_; }
  // The next request the client sent; empty after `timeoutMs` without one.
  std::vector<uint8_t> NextRequest(DWORD timeoutMs = 3000) { return server_->ReadMessage(timeoutMs); }

 private:
  std::unique_ptr<RawServer> server_;
  HANDLE event_ = nullptr;
  HANDLE handle_ = nullptr;
};

// The request id (offset 8) of each request, in order, until `timeoutMs` passes
// without one.
std::vector<uint32_t> RequestIds(HeldConnection& connection, DWORD timeoutMs = 300);

// A received message of `kind` with `size` bytes placed so that its last byte
// is the last readable byte before an inaccessible page: any read past its end
// faults. The header (size, version 4, kind) is filled in; the rest is zero.
class GuardedMessage {
 public:
  GuardedMessage(uint32_t kind, uint32_t size);
  ~GuardedMessage();
  GuardedMessage(const GuardedMessage&) = delete;
  GuardedMessage& operator=(const GuardedMessage&) = delete;
  uint8_t* data() { return data_; }
  uint32_t size() const { return size_; }
  void U32(uint32_t offset, uint32_t value);

 private:
  uint8_t* region_ = nullptr;
  uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
};

}  // namespace bridge_test
