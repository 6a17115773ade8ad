// A bridge ready to dispatch: a fresh log, a handler in the module-wide
// pointer, a client connection to a RawServer in the connection holder and the
// small panel table (tests that want no table reset Panels).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/module_state.h"
#include "bridge_test_env.h"
#include "lvar/bridge_services.h"
#include "lvar/lvar_handler.h"
#include "lvar/records.h"
#include "simconnect/wire.h"

using Lines = std::vector<std::string>;
using Bytes8 = std::vector<uint8_t>;

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(connection.ok());
    bridge_test::StartLog();
    bridge_test::SetTick(100000);
    bridge::accessDisabled = false;
    handler = new LVARHandler();
    handler->lastHeartbeatTick = 100000;
    handler->lastScanTick = 100000;
    bridge::lvarHandler.store(handler);
  }
  void TearDown() override {
    bridge::ReleaseLVARHandler();
    bridge_test::StopLog();
  }

  // A client-data message carrying a HostRequest, read-protected past its end.
  static std::unique_ptr<bridge_test::GuardedMessage> HostRequestMessage(uint32_t command, const char* name = "",
                                                                         double value = 0.0, uint32_t param = 0,
                                                                         uint32_t requestId = 10000,
                                                                         uint32_t tag = 0x1234) {
    auto message = std::make_unique<bridge_test::GuardedMessage>(16, 316);
    message->U32(12, requestId);
    records::EncodeHostRequest(records::MakeHostRequest(tag, command, param, name, value), message->data() + 40);
    return message;
  }

  // The messages logged since the last call.
  static Lines TakeLines() { return bridge_test::NewLogMessages(); }
  // The SendID of a request, as text.
  static std::string SendIdOf(const Bytes8& request) {
    return request.size() >= 16 ? std::to_string(wire::LoadU32(request.data() + 12)) : "?";
  }
  static uint32_t U32(const Bytes8& bytes, size_t offset) {
    return bytes.size() >= offset + 4 ? wire::LoadU32(bytes.data() + offset) : 0xDEADDEAD;
  }
  static std::string TextAt(const Bytes8& bytes, size_t offset) {
    if (bytes.size() <= offset) return "?";
    return std::string(reinterpret_cast<const char*>(bytes.data() + offset));
  }
  // True when no request arrives within a short time.
  bool NothingSent() { return connection.NextRequest(150).empty(); }

  bridge_test::SmallPanels panels;
  bridge_test::HeldConnection connection;
  LVARHandler* handler = nullptr;
};
