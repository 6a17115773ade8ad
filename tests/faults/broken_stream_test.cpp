// The connection breaks while the module has a write outstanding. A raw
// server on the simulator's pipe connects the application's side, asks for
// two thousand reports in one burst and reads none of them: the replies
// (about 600 KB) overflow the pipe's 64 KB buffer, so the module's write
// waits and the rest of its replies wait in its send queue. Then the server
// either closes its end, or sends a size field that no message can have.
// Either way the process lives on, the module closes the connection (the
// outstanding write does not keep it open), the worker waits for DLLStop,
// DLLStop returns within its bound, and nothing of the connection is left.
//
// The malformed-server tests cover bad bytes around the open reply and a
// message cut off by the close; here the bad bytes come after the set-up,
// while writes are pending.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "bridge/raw_simulator.h"
#include "bridge_log_file.h"
#include "fault_cycle.h"
#include "lvar/records.h"
#include "support/test_env.h"

namespace {

using namespace raw_simulator;
using e2e::Lines;

constexpr size_t kReports = 2000;
constexpr size_t kVariables = 4;
constexpr int kCycles = 3;
// As in the other fault programs: one object that the system creates once
// may appear while the cycles run; a leak per cycle exceeds it.
constexpr size_t kSlack = 1;

simhost::AircraftDescription Aircraft() {
  simhost::AircraftDescription aircraft;
  aircraft.title = "Broken Stream Aircraft";
  for (size_t i = 0; i < kVariables; ++i) {
    simhost::Motion constant;
    constant.value = 10.0 * static_cast<double>(i + 1);
    aircraft.variables.push_back({"BROKEN_" + std::to_string(i), constant});
  }
  return aircraft;
}

std::string Name(size_t i) { return "BROKEN_" + std::to_string(i % kVariables); }

size_t ReportsLogged() { return faults::CountStartingWith(faults::LogSoFar(), "LVARHandler::ForceUpdate BROKEN_"); }

// Connects the application's side and asks for kReports reports in one
// write, reading nothing; returns once the module has served them all, so
// that its replies fill the pipe and its send queue.
void FloodWithoutReading(faults::RawServedModule& module) {
  Bytes8 burst = HostRequest(records::kCommandConnect, "", 0.0, 5, 0xB0B);
  for (size_t i = 0; i < kReports; ++i) {
    Bytes8 request = HostRequest(records::kCommandForceUpdate, Name(i).c_str());
    burst.insert(burst.end(), request.begin(), request.end());
  }
  ASSERT_TRUE(module.Server().Write(burst));
  ASSERT_TRUE(WaitUntil([&] { return ReportsLogged() == kReports; }, 30000))
      << ReportsLogged() << " of " << kReports << " reports served";
}

// The rest of a cycle: the worker lives on, DLLStop ends it within its bound.
void ExpectWorkerWaitsThenStops(faults::RawServedModule& module) {
  HANDLE end = OpenEventA(SYNCHRONIZE, FALSE, "TAVO.quin.Bridge.End");
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(WaitForSingleObject(end, 500), static_cast<DWORD>(WAIT_TIMEOUT)) << "the worker ended on its own";
  CloseHandle(end);
  EXPECT_LT(module.StopModule(), faults::kStopBoundMs);
  EXPECT_TRUE(faults::BridgeEventsGone());

  const Lines lines = e2e::BridgeLogMessages(module.StartedAt());
  faults::ExpectEndedByStop(lines);
  EXPECT_EQ(e2e::CountOf(lines, "LVARHandler::Connect 00000b0b"), 1u);
  // Every report was served, in the order asked, with its variable's value.
  size_t served = 0;
  for (const std::string& line : lines) {
    if (line.compare(0, 25, "LVARHandler::ForceUpdate ") != 0) continue;
    const size_t i = served % kVariables;
    EXPECT_EQ(line, "LVARHandler::ForceUpdate " + Name(i) + " = " + std::to_string(10.0 * (i + 1)) + " : success");
    if (++served > kReports) break;
  }
  EXPECT_EQ(served, kReports);
}

void RunCycles(const std::function<void(faults::RawServedModule&)>& breakIt) {
  auto cycle = [&](int number) {
    SCOPED_TRACE("cycle " + std::to_string(number));
    faults::RawServedModule module(Aircraft());
    ASSERT_TRUE(module.Start());
    FloodWithoutReading(module);
    if (::testing::Test::HasFatalFailure()) return;
    breakIt(module);
    ExpectWorkerWaitsThenStops(module);
  };
  cycle(0);  // what the process creates once
  if (::testing::Test::HasFailure()) return;
  const faults::Resources before = faults::TakeResources();
  for (int number = 1; number <= kCycles && !::testing::Test::HasFailure(); ++number) cycle(number);
  faults::ExpectNothingLeft(before, kSlack, "after the cycles");
}

TEST(BrokenStreamTest, TheServerClosesItsEndWhileAWriteIsOutstanding) {
  RunCycles([](faults::RawServedModule& module) { module.Server().CloseClient(); });
}

TEST(BrokenStreamTest, ASizeFieldOfTwoWhileAWriteIsOutstandingEndsTheConnection) {
  RunCycles([](faults::RawServedModule& module) {
    // Four bytes that claim a message of two bytes, then an About that must
    // not be served: the module drops the connection at the bad size.
    Bytes8 bad = {2, 0, 0, 0};
    Bytes8 about = MenuEvent(102);
    bad.insert(bad.end(), about.begin(), about.end());
    ASSERT_TRUE(module.Server().Write(bad));
    // Draining the pipe lets no further reply through: the module has closed
    // its end, pending write and send queue included.
    EXPECT_TRUE(module.Server().WaitForClientClose(10000));
    EXPECT_EQ(e2e::IndexOf(faults::LogSoFar(), "onRecvEvent 102 (24)"), -1);
  });
}

}  // namespace
