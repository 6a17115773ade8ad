// The simulator's server goes away in the middle of a stream of monitored
// values: simhost in this process closes every connection without a quit
// message and stops, or simhost.exe, serving from a process of its own, is
// terminated, so that the system tears down its pipe ends. Either way the
// process lives on, the worker keeps running until DLLStop and never opens a
// new connection, even with a server back on the pipe; DLLStop returns within
// its bound, and nothing of the module is left.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "aircraft_file.h"
#include "simconnect/SimConnect.h"
#include "support/app_client.h"
#include "support/child_process.h"
#include "support/hosted_module.h"
#include "support/module_log.h"
#include "support/paths.h"
#include "support/wait_until.h"

namespace {

using module_log::Lines;

constexpr size_t kVariables = 20;
// The pipe only: no TCP port in the registry, so clients find nothing else.
constexpr wchar_t kSimhostArguments[] = L"--aircraft lost.aircraft --no-tcp --no-registry --no-window --no-stdin";

ServedOptions Options(ServedOptions::Server server) {
  ServedOptions options;
  options.server = server;
  options.aircraft = RampAircraft("Lost Server Aircraft", "LOST_", kVariables, 100.0);
  options.runFrames = true;
  return options;
}

// The application monitors every variable at 10 ms and receives a few hundred
// values: every variable, each report at least the change threshold above the
// one before (the ramps take 100 s to wrap). How many arrived.
size_t Stream(AppClient& app) {
  EXPECT_TRUE(app.Open(77));
  for (size_t i = 0; i < kVariables; ++i) app.Send(records::kCommandStartMonitoring, "LOST_" + std::to_string(i), 10.0);
  EXPECT_TRUE(WaitUntil([&] { app.Pump(20); return app.VarData().size() >= 300; }, 20000)) << app.VarData().size();
  std::map<std::string, std::vector<double>> values;
  for (const records::VarData& data : app.VarData()) values[data.name].push_back(data.value);
  EXPECT_EQ(values.size(), kVariables);
  for (const auto& variable : values) {
    for (size_t i = 1; i < variable.second.size(); ++i) {
      EXPECT_GE(variable.second[i] - variable.second[i - 1], 0.01) << variable.first << " report " << i;
    }
  }
  return app.VarData().size();
}

// The worker still runs; DLLStop ends it. The log: one open, every variable
// monitored, at least what the application received published, and from the
// loss (line `lost`) to DLLStop no SimConnect call and no failed wait.
void ExpectStoppedAfterTheLoss(ServedModule& sim, size_t received, size_t lost) {
  const Lines lines = sim.StopRunning();
  EXPECT_EQ(module_log::CountStartingWith(lines, "SimConnect: SimConnect_Open"), 1u);
  EXPECT_EQ(module_log::CountStartingWith(lines, "LVARHandler::StartMonitoring LOST_"), kVariables);
  EXPECT_GE(module_log::PublishedByUpdate(lines) + kVariables, received);
  ASSERT_LE(lost + 3, lines.size());
  for (size_t i = lost; i + 3 < lines.size(); ++i) {
    EXPECT_NE(lines[i].compare(0, 11, "SimConnect:"), 0) << "line " << i << ": " << lines[i];
    EXPECT_EQ(lines[i].find("Wait error"), std::string::npos) << lines[i];
  }
}

void SimhostStops() {
  SCOPED_TRACE("simhost stops");
  ServedModule sim;
  ASSERT_TRUE(sim.Start(Options(ServedOptions::Server::kSimhost)));
  AppClient app;
  const size_t received = Stream(app);
  const size_t lost = module_log::SoFar().size();
  sim.KillServer();
  ASSERT_TRUE(sim.RestartServer());
  Sleep(1000);
  EXPECT_EQ(sim.Host().Core().SessionCount(), 0u) << "the worker came to the new server";
  ExpectStoppedAfterTheLoss(sim, received, lost);
}

bool WaitForPipe() {
  return WaitUntil([] { return WaitNamedPipeW(endpoints::kDefaultPipePath, 50) != FALSE; }, 20000);
}

void SimhostProcessKilled() {
  SCOPED_TRACE("simhost.exe killed");
  const ServedOptions options = Options(ServedOptions::Server::kOutside);
  std::ofstream file("lost.aircraft", std::ios::binary | std::ios::trunc);
  file << "title " << options.aircraft.title << "\n";
  for (const auto& v : options.aircraft.variables) file << "var " << v.name << " ramp 0 1000 100\n";
  file.close();
  ChildProcess simhost;
  ASSERT_TRUE(simhost.Start(WindowsPath(TVO_SIMHOST_EXE), kSimhostArguments));
  ASSERT_TRUE(WaitForPipe()) << simhost.Output();
  ServedModule sim;
  ASSERT_TRUE(sim.Start(options));
  // The title rebuilds the registry: it comes before any monitoring.
  ASSERT_TRUE(module_log::WaitFor("LVARHandler::Update Aircraft changed to 20 Lost Server Aircraft", 1, 20000));
  AppClient app;
  const size_t received = Stream(app);
  TestEvent probeEvent;  // a bare connection of the client library
  HANDLE probe = nullptr;
  ASSERT_EQ(SimConnect_Open(&probe, "probe", nullptr, 0, probeEvent.handle, kConfigIndexDefault), S_OK);

  const size_t lost = module_log::SoFar().size();
  ASSERT_TRUE(simhost.Kill(0xDEAD));
  EXPECT_EQ(simhost.ExitCode(), 0xDEADu);
  SetLastError(0xDEADBEEF);
  EXPECT_FALSE(WaitNamedPipeW(endpoints::kDefaultPipePath, 50)) << "the pipe went with the process";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // Once its messages are read, the library reports the broken pipe's status.
  HRESULT result = S_OK;
  EXPECT_TRUE(WaitUntil([&] {
    const void* message = nullptr;
    uint32_t size = 0;
    result = SimConnect_GetNextDispatch(probe, &message, &size);
    return result != S_OK && result != E_FAIL;
  }));
  EXPECT_EQ(static_cast<uint32_t>(result), 0xC000014Bu);
  SimConnect_Close(probe);

  // A server is back on the pipe. The worker goes on with its passes (the
  // variables keep moving), but does not come to it.
  ChildProcess next;
  ASSERT_TRUE(next.Start(WindowsPath(TVO_SIMHOST_EXE), kSimhostArguments));
  ASSERT_TRUE(WaitForPipe()) << next.Output();
  const size_t published = module_log::PublishedByUpdate(module_log::SoFar());
  EXPECT_TRUE(WaitUntil([&] { return module_log::PublishedByUpdate(module_log::SoFar()) >= published + 100; }, 10000))
      << "the worker publishes nothing after the kill";
  EXPECT_EQ(next.Output().find("opened"), std::string::npos) << next.Output();
  ExpectStoppedAfterTheLoss(sim, received, lost);
}

TEST(ServerLostTest, TheModuleOutlivesItsServerGoneMidStreamAndLeavesNothingBehind) {
  CyclesLeaveNothingBehind(1, 0, [] {
    SimhostStops();
    SimhostProcessKilled();
  });
}

}  // namespace
