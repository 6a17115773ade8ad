// The worker run in this process from the bridge's own code (StartBridge and
// StopBridge, as DLLStart and DLLStop run them), with this program's panel
// table and tick, against a raw server on the simulator's pipe that sees the
// exact set-up requests.
#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "bridge/bridge_log.h"
#include "bridge/lifecycle.h"
#include "bridge/module_state.h"
#include "support/bytes.h"
#include "support/linked_bridge.h"
#include "support/module_log.h"
#include "support/paths.h"

namespace {

using namespace linked_bridge;

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    panels.Put(0, "ENGINE_RPM", 1200.0);
    panels.Put(1, "GEAR_DOWN", 1.0);
    SetTick(40000);  // past the rescan period: the first pass rescans
    bridge_log::InitPath();
    server = RawServer::ListenPipe(endpoints::kDefaultPipePath);
    ASSERT_NE(server, nullptr);
    startedAt = std::time(nullptr);
    const auto thread = reinterpret_cast<HANDLE>(bridge::StartBridge());
    ASSERT_NE(thread, nullptr);
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &worker, 0, FALSE, DUPLICATE_SAME_ACCESS);
    ASSERT_TRUE(server->Accept());
    const Bytes8 open = server->ReadMessage();
    ASSERT_EQ(open.size(), 296u);
    EXPECT_EQ(U32At(open, 8), 0xF0000001u);
    EXPECT_EQ(TextAt(open, 16), "TAVO.quin.Bridge");
    ASSERT_TRUE(server->Write(MakeReceived(2, 308)));
    // The requests of SetupConnection (6) and of the handler's Startup (17).
    for (Bytes8 request; setup.size() < 23 && !(request = server->ReadMessage()).empty();) setup.push_back(request);
    ASSERT_EQ(setup.size(), 23u);
  }
  void TearDown() override {
    bridge::StopBridge(true);
    if (worker != nullptr) {
      EXPECT_EQ(WaitForSingleObject(worker, 10000), WAIT_OBJECT_0);
      CloseHandle(worker);
    }
  }

  FakePanels panels;
  std::unique_ptr<RawServer> server;
  HANDLE worker = nullptr;
  std::time_t startedAt = 0;
  std::vector<Bytes8> setup;
};

TEST_F(WorkerTest, SetUpGoesOutInOrderThenMessagesAreServedUntilQuit) {
  // After the open: the menu, the title's definition and its two requests
  // (every second, once), then the four client-data areas: mapped, created,
  // defined, and the subscription to the application's requests.
  std::vector<Bytes8> expected;
  uint32_t sendId = 2;
  expected.push_back(Bytes(280).Header(0xF0000031, sendId++).Text(16, "TAVO.quin").U32(272, 1));
  for (const auto& item : {std::make_pair("About", 102u), std::make_pair("Disable LVAR Access", 101u)}) {
    expected.push_back(Bytes(284).Header(0xF0000033, sendId++).U32(16, 1).Text(20, item.first).U32(276, item.second));
  }
  expected.push_back(Bytes(544).Header(0xF000000C, sendId++).U32(16, 1).Text(20, "TITLE").U32(532, 10)
                         .U32(540, 0xFFFFFFFF));
  for (const auto& request : {std::make_pair(10001u, 4u), std::make_pair(10002u, 1u)}) {
    expected.push_back(Bytes(48).Header(0xF000000E, sendId++).U32(16, request.first).U32(20, 1).U32(28, request.second));
  }
  const char* const areas[] = {"VARDATA", "VARDUMP", "HOSTRESQUEST", "HOSTEVENT"};
  const uint32_t sizes[] = {268, 4012, 276, 1044};
  for (uint32_t i = 0; i < 8; ++i) {
    const std::string name = std::string("TAVO_SC_DYN_") + areas[i / 2] + (i % 2 == 0 ? "_ID" : "_DATA");
    expected.push_back(Bytes(276).Header(0xF0000037, sendId++).Text(16, name).U32(272, 0x4C565201 + i));
  }
  for (uint32_t i = 0; i < 4; ++i) {
    expected.push_back(Bytes(28).Header(0xF0000038, sendId++).U32(16, 0x4C565201 + 2 * i).U32(20, sizes[i]));
  }
  for (uint32_t i : {2, 1, 0, 3}) {
    expected.push_back(Bytes(36).Header(0xF0000039, sendId++).U32(16, 0x4C565202 + 2 * i).U32(24, sizes[i])
                           .U32(32, 0xFFFFFFFF));
  }
  expected.push_back(Bytes(48).Header(0xF000003B, sendId++).U32(16, 0x4C565205).U32(20, 10000).U32(24, 0x4C565206)
                         .U32(28, 3));
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(setup[i], expected[i]) << "request " << i;

  // The log is open: the module counts as started.
  EXPECT_EQ(bridge::StartBridge(), bridge::kAlreadyStarted);
  ASSERT_TRUE(server->Write(MenuEvent(102)));
  EXPECT_EQ(TextAt(server->ReadMessage(), 32), "TAVO.quin Simulator Bridge Version 1.0.0.21");
  ASSERT_TRUE(server->Write(MakeReceived(3, 12)));
  EXPECT_TRUE(server->WaitForClientClose());
  EXPECT_EQ(WaitForSingleObject(worker, 10000), WAIT_OBJECT_0);
  bridge::StopBridge(true);
  const module_log::Lines lines = module_log::Messages(startedAt);
  module_log::ExpectSetupHead(lines);
  module_log::ExpectEndedByQuit(lines);
}

TEST_F(WorkerTest, AMessageMakesTheNextWaitAPollSoThatUpdateRunsAtOnce) {
  // The first pass rescanned; nothing is monitored, so the worker waits
  // without limit until a message comes.
  ASSERT_TRUE(module_log::WaitFor("2 Changes 2 added 0 deleted (Total Vars 2)"));
  SetTick(70001);
  ASSERT_TRUE(server->Write(MenuEvent(102)));
  EXPECT_EQ(TextAt(server->ReadMessage(), 32), "TAVO.quin Simulator Bridge Version 1.0.0.21");
  EXPECT_TRUE(module_log::WaitFor("Check for new LVARS", 2, 3000));
}

TEST_F(WorkerTest, AnExceptionInOnePassIsLoggedAndTheRestOfTheQueueIsStillServed) {
  ASSERT_TRUE(module_log::WaitFor("2 Changes 2 added 0 deleted (Total Vars 2)"));
  ASSERT_TRUE(server->Write(HostRequestMessage(records::kCommandConnect, "", 0.0, 3, 0x55)));
  EXPECT_EQ(U32At(server->ReadMessage(), 40), 7u);

  // Monitoring reads the value at once, which throws; the About behind it in
  // the same write is still served.
  std::atomic<bool> failing{true};
  panels.beforeRead = [&failing](int32_t) {
    if (failing) throw std::runtime_error("panel read failed");
  };
  Bytes8 both = HostRequestMessage(records::kCommandStartMonitoring, "ENGINE_RPM", 500.0);
  const Bytes8 about = MenuEvent(102);
  both.insert(both.end(), about.begin(), about.end());
  ASSERT_TRUE(server->Write(both));
  EXPECT_EQ(TextAt(server->ReadMessage(), 32), "TAVO.quin Simulator Bridge Version 1.0.0.21");
  failing = false;
  const module_log::Lines lines = module_log::SoFar();
  const int failure = module_log::IndexOf(lines, "Excpetion panel read failed");
  ASSERT_GT(failure, 0);
  EXPECT_EQ(lines[failure - 1], "LVARHandler::StartMonitoring ENGINE_RPM (500): success");
  EXPECT_EQ(lines[failure + 1], "onRecvEvent 102 (24)");

  // The variable whose first report failed is monitored and reported by the
  // next pass; a later request is served as usual.
  ASSERT_TRUE(server->Write(HostRequestMessage(records::kCommandForceUpdate, "GEAR_DOWN")));
  std::vector<std::string> reported = {TextAt(server->ReadMessage(), 48), TextAt(server->ReadMessage(), 48)};
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(reported, (std::vector<std::string>{"ENGINE_RPM", "GEAR_DOWN"}));
}

}  // namespace
