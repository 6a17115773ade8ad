// The worker run in this process from the bridge's own code (StartBridge and
// StopBridge, as DLLStart and DLLStop run them), with this program's panel
// table and frozen tick, against a RawServer on the default pipe.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/bridge_log.h"
#include "bridge/lifecycle.h"
#include "bridge/module_state.h"
#include "bridge_test_env.h"
#include "raw_simulator.h"
#include "support/test_env.h"

namespace {

using Lines = std::vector<std::string>;
using namespace raw_simulator;

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bridge_log::InitPath();
    bridge_test::SetTick(100000);
    server = RawServer::ListenPipe(kDefaultPipe);
    ASSERT_NE(server, nullptr);
    HANDLE thread = reinterpret_cast<HANDLE>(bridge::StartBridge());
    ASSERT_NE(thread, nullptr);
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &worker, 0, FALSE, DUPLICATE_SAME_ACCESS);
    AcceptAndOpen(*server);
    ASSERT_EQ(Requests(*server, kSetupRequestCount).size(), kSetupRequestCount);
  }
  void TearDown() override {
    bridge_test::SmallPanels::readsThrow = false;
    bridge::StopBridge(true);
    if (worker != nullptr) {
      EXPECT_EQ(WaitForSingleObject(worker, 10000), WAIT_OBJECT_0);
      CloseHandle(worker);
    }
  }
  // Waits until the log holds `line`.
  static bool WaitForLine(const std::string& line) {
    return WaitUntil([&] {
      Lines lines = bridge_test::LogMessages();
      return std::find(lines.begin(), lines.end(), line) != lines.end();
    });
  }
  static bool Logged(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  bridge_test::SmallPanels panels;
  std::unique_ptr<RawServer> server;
  HANDLE worker = nullptr;
};

TEST_F(WorkerTest, FirstUpdateAfterStartUpRescansAtOnce) {
  // The frozen tick lies more than 30 s after the handler's last scan (never).
  EXPECT_TRUE(WaitForLine("Check for new LVARS"));
  EXPECT_TRUE(WaitForLine("2 Changes 2 added 0 deleted (Total Vars 2)"));
}

TEST_F(WorkerTest, AnExceptionInOnePassIsLoggedAndTheRestOfTheQueueIsStillServed) {
  ASSERT_TRUE(WaitForLine("2 Changes 2 added 0 deleted (Total Vars 2)"));
  server->Write(HostRequest(records::kCommandConnect, "", 0.0, 3, 0x55));
  Bytes8 reply = server->ReadMessage();
  ASSERT_EQ(U32(reply, 36 + 4), 7u);

  // Monitoring reads the value at once, which throws; the About event behind
  // it in the same write must still be served.
  bridge_test::SmallPanels::readsThrow = true;
  Bytes8 both = HostRequest(records::kCommandStartMonitoring, "ENGINE_RPM", 500.0);
  Bytes8 about = MenuEvent(102);
  both.insert(both.end(), about.begin(), about.end());
  ASSERT_TRUE(server->Write(both));
  Bytes8 text = server->ReadMessage();
  EXPECT_EQ(TextAt(text, 32), "TAVO.quin Simulator Bridge Version 1.0.0.21");
  bridge_test::SmallPanels::readsThrow = false;

  Lines lines = bridge_test::LogMessages();
  auto failure = std::find(lines.begin(), lines.end(), "Excpetion panel read failed");
  ASSERT_NE(failure, lines.end());
  EXPECT_EQ(*(failure - 1), "LVARHandler::StartMonitoring ENGINE_RPM (500): success");
  EXPECT_EQ(*(failure + 1), "onRecvEvent 102 (24)");

  // The worker goes on: the variable whose first report failed is monitored
  // and reported by the next Update, and a later request is served normally.
  server->Write(HostRequest(records::kCommandForceUpdate, "GEAR_DOWN"));
  std::vector<std::string> reported;
  for (const Bytes8& varData : Requests(*server, 2)) {
    EXPECT_EQ(U32(varData, 16), 0x4C565201u);
    reported.push_back(TextAt(varData, 36 + 12));
  }
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(reported, (std::vector<std::string>{"ENGINE_RPM", "GEAR_DOWN"}));
}

TEST_F(WorkerTest, QuitEndsTheLoopAndTearsDownBeforeStop) {
  server->Write(Quit());
  EXPECT_TRUE(server->WaitForClientClose());
  ASSERT_EQ(WaitForSingleObject(worker, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(bridge::connectionHolder.load(), nullptr);
  EXPECT_EQ(bridge::lvarHandler.load(), nullptr);
  // Stop is closed; End is set and waits for DLLStop.
  {
    std::lock_guard<SlimLock> lock(bridge::workerHandles.handleLock);
    EXPECT_EQ(bridge::workerHandles.stopEvent, INVALID_HANDLE_VALUE);
    ASSERT_NE(bridge::workerHandles.endEvent, INVALID_HANDLE_VALUE);
    EXPECT_EQ(WaitForSingleObject(bridge::workerHandles.endEvent, 0), WAIT_OBJECT_0);
  }
  bridge::StopBridge(true);
  EXPECT_EQ(bridge::workerHandles.endEvent, INVALID_HANDLE_VALUE);
  EXPECT_EQ(bridge::workerHandles.workerThread, INVALID_HANDLE_VALUE);
  Lines lines = bridge_test::LogMessages();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(Lines(lines.end() - 4, lines.end()),
            (Lines{"Received QUIT Signal!", "SimConnect: SimConnect_Close ==> SUCCESS (SendID = -1)", "DLLSTOP",
                   "DLLSTOP DONE"}));
}

}  // namespace
