// For programs that link the bridge's code (the `bridge` library) instead of
// loading the module: everything runs for real but the two seams, the tick
// (this file's CurrentTick takes the place of src/bridge/tick.cpp's) and the
// panel table (fake_panels.h). The log is the module's own file, opened as
// DLLStart opens it; the SimConnect connection is a real client in the
// module's connection holder, talking to a RawServer that sees every
// request's bytes. Programs that link this declare LOCKS bridge_log.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fake_panels.h"
#include "lvar/lvar_handler.h"
#include "raw_endpoints.h"

namespace linked_bridge {

using Lines = std::vector<std::string>;
using Bytes8 = std::vector<uint8_t>;

// The value CurrentTick returns (10000 at start); it moves only when the test
// moves it.
void SetTick(uint32_t tick);
void AdvanceTick(uint32_t ms);

// Computes the log path as process attach does and opens the log afresh
// (truncated); NewLines starts over.
void StartLog();
// The messages of the log's lines written since the last call (timestamps
// off), without the "SimConnect: ..." and "gnDisplay ..." lines of
// CheckResult unless `withResults`.
Lines NewLines(bool withResults = false);

// A client connected over a pipe of its own to a RawServer, in the connection
// holder while the object lives.
class HeldConnection {
 public:
  HeldConnection();
  ~HeldConnection();
  HeldConnection(const HeldConnection&) = delete;
  HeldConnection& operator=(const HeldConnection&) = delete;

  // The next request the client sent; empty after `timeoutMs` without one.
  Bytes8 Next(DWORD timeoutMs = 3000) { return server_->ReadMessage(timeoutMs); }
  // True when no request arrives for a little while.
  bool Quiet() { return Next(150).empty(); }

 private:
  std::unique_ptr<RawServer> server_;
  HANDLE event_ = nullptr;
};

// The client-data areas as the requests name them; each area's one definition
// has the area's id + 1.
constexpr uint32_t kVarDataArea = 0x4C565201, kVarDumpArea = 0x4C565203, kHostEventArea = 0x4C565207;

// Record images built from literal offsets.
Bytes8 VarData(double value, uint32_t isMjc, const std::string& name);
Bytes8 VarDump(uint32_t firstId, uint32_t total, const std::string& names);
Bytes8 HostEvent(uint32_t reference, uint32_t code, double value, const std::string& text);

// A handler over a FakePanels table with a fresh log, the tick at 10000 and a
// held connection. The handler is the module's (bridge::lvarHandler), so the
// dispatch reaches it too.
class LinkedBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The record of the next request, which must be a SetClientData into `area`
  // of the record's size; `sendId` takes its SendID.
  Bytes8 NextRecord(uint32_t area);
  static records::HostRequest Request(uint32_t command, const std::string& name = "", double value = 0.0,
                                      uint32_t param = 0, uint32_t tag = 0x1234);
  // Connect with `peer`, its reply taken off the wire.
  void Connect(uint32_t peer = 5);
  // The names the variable list (SendLVARS) holds, "name;name;...;".
  std::string Listed();
  void Start(const std::string& name, double interval = 0.0, uint32_t param = 0) {
    handler->StartMonitoring(Request(records::kCommandStartMonitoring, name, interval, param));
  }
  // Moves the tick on and runs one pass of Update.
  uint32_t After(uint32_t ms) {
    AdvanceTick(ms);
    return handler->Update();
  }

  FakePanels panels;
  HeldConnection connection;
  LVARHandler* handler = nullptr;
  uint32_t sendId = 0;
};

}  // namespace linked_bridge
