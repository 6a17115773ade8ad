// A handler over a fake panel table, with the log captured, the tick frozen
// at a chosen value and no SimConnect connection (every write then fails with
// E_FAIL and CheckResult logs SendID -1).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_panels.h"
#include "lvar/bridge_services.h"
#include "lvar/lvar_handler.h"
#include "lvar/records.h"
#include "lvar_test_env.h"

class HandlerTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kStartTick = 1000000;

  void SetUp() override {
    lvar_test::ClearLog();
    lvar_test::SetTick(kStartTick);
    lvar_test::SetHandle(nullptr);
    lvar_test::SetStopEvent(nullptr);
    lvar_test::SetStopFlag(false);
    handler.lastHeartbeatTick = kStartTick;
    handler.lastScanTick = kStartTick;  // no periodic rescan unless a test wants one
  }

  // Connect with tag 0x1234 and the given peer id.
  void ConnectApp(uint32_t peer = 5) { handler.Connect(Request(records::kCommandConnect, "", 0.0, peer)); }

  static records::HostRequest Request(uint32_t command, const char* name, double value = 0.0, uint32_t param = 0) {
    return records::MakeHostRequest(0x1234, command, param, name, value);
  }
  void Start(const char* name, double interval = 0.0, uint32_t param = 0) {
    handler.StartMonitoring(Request(records::kCommandStartMonitoring, name, interval, param));
  }

  LVAREntry& Entry(const char* name) {
    LVAREntry* entry = handler.registry.Find(name);
    EXPECT_NE(entry, nullptr) << name;
    return *entry;
  }
  std::vector<std::string> RegistryNames() const {
    std::vector<std::string> names;
    for (const auto& entry : handler.registry) names.push_back(entry->name);
    return names;
  }
  // The handler's own lines since the last call (CheckResult lines left out).
  std::vector<std::string> TakeLines() {
    std::vector<std::string> lines = lvar_test::HandlerLines();
    lvar_test::ClearLog();
    return lines;
  }

  FakePanels panels;
  LVARHandler handler;
};

using Lines = std::vector<std::string>;
