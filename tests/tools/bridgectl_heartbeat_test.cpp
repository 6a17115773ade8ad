// A watch sends no request of its own while it only receives; the bridge
// forgets an application after 60 s without one. bridgectl's heartbeat keeps
// the watch alive past that time-out. (This test takes some 70 seconds.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bridge_host.h"
#include "bridgectl_process.h"

namespace {

// Seconds since midnight of the "HH:MM:SS.mmm" part of a watch JSON line.
double SecondsOfDay(const std::string& line) {
  size_t at = line.find('T');
  if (at == std::string::npos || line.size() < at + 13) return -1.0;
  const char* time = line.c_str() + at + 1;
  return std::atoi(time) * 3600.0 + std::atoi(time + 3) * 60.0 + std::strtod(time + 6, nullptr);
}

TEST(BridgectlHeartbeatTest, AWatchOutlivesTheBridgesHeartbeatTimeOut) {
  BridgeHost host;
  ASSERT_TRUE(host.Start(FastAircraft()));

  RunResult watch = RunBridgectl("watch TOGGLE_FAST@500 --json --duration 70", 150000);
  ASSERT_EQ(watch.status, 0) << watch.err;
  std::vector<std::string> lines = SplitLines(watch.out);
  ASSERT_GE(lines.size(), 2u) << watch.out;
  double span = SecondsOfDay(lines.back()) - SecondsOfDay(lines.front());
  if (span < 0) span += 86400.0;  // the run crossed midnight
  // Reports kept coming well past the 60 s after the watch's last request.
  EXPECT_GE(span, 65.0) << lines.front() << "\n" << lines.back();
  EXPECT_GE(lines.size(), 50u);  // the value read every 500 ms changes about once a second
  EXPECT_EQ(CountLogLines("No heartbeat"), 0u);
  EXPECT_EQ(CountLogLines("LVARHandler::StopMonitoring TOGGLE_FAST : success"), 1u);
}

}  // namespace
