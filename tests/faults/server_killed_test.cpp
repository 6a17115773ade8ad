// The simulator's server goes away while the module is busy: simhost closes
// every connection without a quit message and stops, in the middle of a
// stream of monitored values going out to an application. The hosting process
// lives on, the worker keeps running until DLLStop (it never opens a new
// connection, even when a server is back on the pipe), DLLStop returns within
// its bound, and after FreeLibrary nothing of the module is left: no handle,
// no thread, none of its named events.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app_client.h"
#include "bridge_log_file.h"
#include "fault_cycle.h"
#include "lvar/records.h"
#include "support/test_env.h"

namespace {

using faults::ServedModule;

constexpr size_t kVariables = 20;
constexpr int kCycles = 3;
// A handle or thread more after all cycles is allowed: the system's own
// objects (the thread pool, Wine's per-process helpers) are created once and
// may grow by one while the cycles run. A leak per cycle exceeds it.
constexpr size_t kSlack = 1;

const simhost::AircraftDescription& Aircraft() {
  static const simhost::AircraftDescription aircraft =
      faults::RampAircraft("Killed Server Aircraft", "KILL_", kVariables, 100.0);
  return aircraft;
}

// Opens the application, connects it and monitors every variable at 10 ms.
void ConnectAndMonitor(e2e::AppClient& app) {
  ASSERT_TRUE(app.Open("faults application"));
  ASSERT_TRUE(app.Send(records::kCommandConnect, "", 0.0, 77, 0xFA117001));
  records::HostEvent reply{};
  ASSERT_TRUE(app.TakeEventCode(records::kEventConnectReply, &reply));
  EXPECT_EQ(reply.reference, 0xFA117001u);
  for (size_t i = 0; i < kVariables; ++i) {
    ASSERT_TRUE(app.Send(records::kCommandStartMonitoring, ("KILL_" + std::to_string(i)).c_str(), 10.0));
  }
}

// One cycle: load, stream, kill the server, check the worker waits, stop.
void KillMidStream(int cycle) {
  SCOPED_TRACE("cycle " + std::to_string(cycle));
  ServedModule module;
  ASSERT_TRUE(module.Start(Aircraft()));

  size_t received = 0;
  {
    e2e::AppClient app;
    ConnectAndMonitor(app);
    // The stream is running: a few hundred values have come through.
    ASSERT_TRUE(WaitUntil(
        [&] {
          app.Pump(20);
          return app.VarDataQueue().size() >= 300;
        },
        20000))
        << "only " << app.VarDataQueue().size() << " values arrived";
    received = app.VarDataQueue().size();
    module.Kill();
  }

  // A server is back on the pipe; the worker goes on waiting for DLLStop and
  // never comes to it.
  ASSERT_TRUE(module.Restart(Aircraft()));
  HANDLE end = OpenEventA(SYNCHRONIZE, FALSE, "TAVO.quin.Bridge.End");
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(WaitForSingleObject(end, 1000), static_cast<DWORD>(WAIT_TIMEOUT)) << "the worker ended on its own";
  CloseHandle(end);
  EXPECT_EQ(module.Host().ConnectionCount(), 0u);
  EXPECT_EQ(module.Host().Core().SessionCount(), 0u);

  const DWORD took = module.StopModule();
  EXPECT_LT(took, faults::kStopBoundMs);
  EXPECT_TRUE(faults::BridgeEventsGone());
  module.StopServer();

  const e2e::Lines lines = e2e::BridgeLogMessages(module.StartedAt());
  faults::ExpectEndedByStop(lines);
  EXPECT_EQ(faults::CountStartingWith(lines, "SimConnect: SimConnect_Open"), 1u) << e2e::Joined(lines);
  EXPECT_EQ(e2e::CountOf(lines, e2e::Succeeded("SimConnect_Open", 1)), 1u);
  // Every value the application saw was published by the module: the first
  // report of each variable by StartMonitoring, the rest by Update.
  EXPECT_EQ(faults::CountStartingWith(lines, "LVARHandler::StartMonitoring KILL_"), kVariables);
  EXPECT_GE(faults::PublishedByUpdate(lines) + kVariables, received);
}

TEST(ServerKilledTest, TheModuleOutlivesAServerKilledMidStreamAndLeavesNothingBehind) {
  // The first cycle creates what the process creates once (thread pool,
  // Winsock, the log folder); only later cycles are counted.
  KillMidStream(0);
  if (HasFailure()) return;
  const faults::Resources before = faults::TakeResources();
  for (int cycle = 1; cycle <= kCycles && !HasFailure(); ++cycle) KillMidStream(cycle);
  faults::ExpectNothingLeft(before, kSlack, "after the cycles");
}

}  // namespace
