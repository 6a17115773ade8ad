// The simulator's server goes away while the module is busy, in the middle of
// a stream of monitored values going out to an application: first simhost in
// this process closes every connection without a quit message and stops; then
// simhost.exe, serving from a process of its own, is terminated, so that the
// system tears down the server's pipe ends. The hosting process lives on, the
// worker keeps running until DLLStop (it never opens a new connection, even
// when a server is back on the pipe), DLLStop returns within its bound, and
// after FreeLibrary nothing of the module is left: no handle, no thread, none
// of its named events.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "aircraft_file.h"
#include "app_client.h"
#include "bridge/raw_simulator.h"
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
// Pumps the application until at least `count` values have arrived.
::testing::AssertionResult ReceiveAtLeast(e2e::AppClient& app, size_t count) {
  if (WaitUntil(
          [&] {
            app.Pump(20);
            return app.VarDataQueue().size() >= count;
          },
          20000)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "only " << app.VarDataQueue().size() << " values arrived";
}

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
    ASSERT_TRUE(ReceiveAtLeast(app, 300));
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

// ---- simhost.exe killed ----------------------------------------------------------

constexpr char kProcessTitle[] = "Killed Process Aircraft";
constexpr UINT kKilledExitCode = 0xDEAD;
// The pipe only (no TCP port written to the registry, so the clients' chain
// finds nothing else), no window, no console commands.
constexpr wchar_t kSimhostArguments[] =
    L"--aircraft killed_process.aircraft --no-tcp --no-registry --no-window --no-stdin";

// The same aircraft on both sides: simhost.exe reports its title, the panel
// services of this process serve its variables.
const simhost::AircraftDescription& ProcessAircraft() {
  static const simhost::AircraftDescription aircraft = faults::RampAircraft(kProcessTitle, "PROC_", kVariables, 100.0);
  return aircraft;
}

// The aircraft file simhost.exe loads, in the working folder.
bool WriteProcessAircraftFile(const char* path) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << simhost::FormatAircraft(ProcessAircraft());
  return static_cast<bool>(file.flush());
}

// Writes one heartbeat request; true when the application's connection
// refuses it. `failure` gets what AppClient reports then.
bool HeartbeatRefused(e2e::AppClient& app, std::string* failure) {
  ::testing::TestPartResultArray reported;
  bool sent;
  {
    ::testing::ScopedFakeTestPartResultReporter intercept(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &reported);
    sent = app.Send(records::kCommandHeartbeat);
  }
  if (reported.size() > 0) *failure = reported.GetTestPartResult(0).message();
  return !sent;
}

// The module has opened, set up its areas, subscribed to the host-request
// area and taken the server's title (which rebuilds the registry, so it must
// come before any monitoring).
void WaitUntilModuleReady(const faults::SimhostProcess& simhost) {
  ASSERT_TRUE(simhost.WaitForOutput("client 1 \"TAVO.quin.Bridge\" opened (pipe)")) << simhost.Output();
  const std::string titleLine =
      "LVARHandler::Update Aircraft changed to " + std::to_string(sizeof kProcessTitle - 1) + " " + kProcessTitle;
  ASSERT_TRUE(e2e::WaitForLogMessage(titleLine, 20000)) << e2e::Joined(faults::LogSoFar());
  ASSERT_EQ(faults::CountStartingWith(faults::LogSoFar(),
                                      "SimConnect: RequestClientData TAVO_SC_DYN_HOSTRESQUEST_ID ==> SUCCESS"),
            1u);
}

// The application connects through simhost.exe, monitors every variable at
// 10 ms and receives a few hundred values: every variable reported, each
// one's values rising as its ramp does (it takes 100 s to wrap), the first
// report at once, then one per move of at least the change threshold.
void StreamFrom(const faults::SimhostProcess& simhost, e2e::AppClient& app) {
  ASSERT_TRUE(app.Open("faults application"));
  EXPECT_TRUE(simhost.WaitForOutput("client 2 \"faults application\" opened (pipe)")) << simhost.Output();
  ASSERT_TRUE(app.Send(records::kCommandConnect, "", 0.0, 78, 0xFA117002));
  records::HostEvent reply{};
  ASSERT_TRUE(app.TakeEventCode(records::kEventConnectReply, &reply));
  EXPECT_EQ(reply.reference, 0xFA117002u);
  for (size_t i = 0; i < kVariables; ++i) {
    ASSERT_TRUE(app.Send(records::kCommandStartMonitoring, ("PROC_" + std::to_string(i)).c_str(), 10.0));
  }
  ASSERT_TRUE(ReceiveAtLeast(app, 300));
  std::map<std::string, std::vector<double>> values;
  for (const records::VarData& data : app.VarDataQueue()) {
    EXPECT_EQ(data.isMjc, 0u);
    values[data.name].push_back(data.value);
  }
  ASSERT_EQ(values.size(), kVariables);
  for (const auto& variable : values) {
    ASSERT_EQ(variable.first.compare(0, 5, "PROC_"), 0) << variable.first;
    EXPECT_GE(variable.second.front(), 0.0) << variable.first;
    EXPECT_LT(variable.second.back(), 1000.0) << variable.first;
    for (size_t i = 1; i < variable.second.size(); ++i) {
      EXPECT_GE(variable.second[i] - variable.second[i - 1], 0.01) << variable.first << " report " << i;
    }
  }
}

// One cycle: simhost.exe serves the pipe, the module hosted here and an
// application connect to it, values stream, the process is terminated.
void KillProcessMidStream(int cycle) {
  using ::testing::Test;
  SCOPED_TRACE("process cycle " + std::to_string(cycle));
  using raw_simulator::kDefaultPipe;
  ASSERT_TRUE(WriteProcessAircraftFile("killed_process.aircraft"));
  faults::SimhostProcess simhost;
  ASSERT_TRUE(simhost.Start(kSimhostArguments, L"simhost_output.txt"));
  ASSERT_TRUE(faults::WaitForPipe(kDefaultPipe, 20000)) << simhost.Output();

  faults::PanelHostedModule module(ProcessAircraft());
  ASSERT_TRUE(module.Start());
  WaitUntilModuleReady(simhost);
  if (Test::HasFatalFailure()) return;

  e2e::AppClient app;
  StreamFrom(simhost, app);
  if (Test::HasFatalFailure()) return;
  const size_t received = app.VarDataQueue().size();

  // Mid-stream: the server's process is terminated.
  const size_t linesBeforeKill = faults::LogSoFar().size();
  ASSERT_TRUE(simhost.Kill(kKilledExitCode)) << "simhost.exe did not end";
  EXPECT_EQ(simhost.ExitCode(), kKilledExitCode);
  // Its pipe went with it.
  SetLastError(0xDEADBEEF);
  EXPECT_FALSE(WaitNamedPipeW(kDefaultPipe, 50));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // The application's connection fails with the broken pipe's status.
  std::string failure;
  ASSERT_TRUE(WaitUntil([&] { return HeartbeatRefused(app, &failure); }, 5000))
      << "the application's requests still go out";
  EXPECT_NE(failure.find("SetClientData HostRequest failed with c000014b"), std::string::npos) << failure;
  app.Close();

  // A server is back on the pipe. The worker goes on with its passes (the
  // variables keep moving, so each pass has values to publish), does not end
  // on its own and does not come to the new server.
  faults::SimhostProcess next;
  ASSERT_TRUE(next.Start(kSimhostArguments, L"simhost_next_output.txt"));
  ASSERT_TRUE(faults::WaitForPipe(kDefaultPipe, 20000)) << next.Output();
  const size_t publishedWithNext = faults::PublishedByUpdate(faults::LogSoFar());
  EXPECT_TRUE(WaitUntil([&] { return faults::PublishedByUpdate(faults::LogSoFar()) >= publishedWithNext + 100; },
                        10000))
      << "the worker publishes nothing after the kill";
  EXPECT_TRUE(faults::WorkerRunning()) << "the worker ended on its own";
  EXPECT_EQ(next.Output().find("connected"), std::string::npos) << next.Output();

  const DWORD took = module.StopModule();
  EXPECT_LT(took, faults::kStopBoundMs);
  EXPECT_TRUE(faults::BridgeEventsGone());
  EXPECT_TRUE(next.Kill(kKilledExitCode));

  const e2e::Lines lines = e2e::BridgeLogMessages(module.StartedAt());
  faults::ExpectEndedByStop(lines);
  if (Test::HasFatalFailure()) return;
  EXPECT_EQ(faults::CountStartingWith(lines, "SimConnect: SimConnect_Open"), 1u) << e2e::Joined(lines);
  EXPECT_EQ(e2e::CountOf(lines, e2e::Succeeded("SimConnect_Open", 1)), 1u);
  EXPECT_EQ(faults::CountStartingWith(lines, "LVARHandler::StartMonitoring PROC_"), kVariables);
  EXPECT_GE(faults::PublishedByUpdate(lines) + kVariables, received);
  // After the kill the worker only read and published; it made no SimConnect
  // call whose result it logs (no open, no set-up) until DLLStop's close.
  const e2e::Lines whole = faults::LogSoFar();
  ASSERT_LE(linesBeforeKill + 3, whole.size());
  for (size_t i = linesBeforeKill; i < whole.size() - 3; ++i) {
    EXPECT_NE(whole[i].compare(0, 11, "SimConnect:"), 0) << "line " << i << ": " << whole[i];
    EXPECT_EQ(whole[i].find("Wait error"), std::string::npos) << whole[i];
  }
}

TEST(ServerKilledTest, TheModuleOutlivesTheServerProcessKilledMidStreamAndLeavesNothingBehind) {
  // A warm-up cycle, then counted ones, as above.
  KillProcessMidStream(0);
  if (HasFailure()) return;
  const faults::Resources before = faults::TakeResources();
  for (int cycle = 1; cycle <= kCycles && !HasFailure(); ++cycle) KillProcessMidStream(cycle);
  faults::ExpectNothingLeft(before, kSlack, "after the process cycles");
}

}  // namespace
