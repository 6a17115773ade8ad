// Loading, starting, stopping and unloading the module leaves nothing behind.
// Against a raw server on the simulator's pipe, so that only the module's own
// objects are counted: open reply, set-up, About, DLLStop, FreeLibrary.
// (Locks of the static runtime that create kernel objects on first use and
// are never destroyed would show here, one set per load.)
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "bridge/raw_simulator.h"
#include "fault_cycle.h"
#include "process_stats.h"

namespace {

using namespace raw_simulator;

void LoadServeAndUnload() {
  simhost::AircraftDescription aircraft = faults::RampAircraft("Unload Aircraft", "UNLOAD_", 2, 10.0);
  faults::RawServedModule module(aircraft);
  ASSERT_TRUE(module.Start());
  ASSERT_TRUE(module.Server().Write(MenuEvent(102)));
  EXPECT_EQ(TextAt(module.Server().ReadMessage(), 32), "TAVO.quin Simulator Bridge Version 1.0.0.21");
  EXPECT_LT(module.StopModule(), faults::kStopBoundMs);
  EXPECT_TRUE(faults::BridgeEventsGone());
}

TEST(UnloadLeakTest, EveryLoadOfTheModuleGivesBackAllItsHandles) {
  LoadServeAndUnload();  // what the process creates once
  const faults::Resources before = faults::TakeResources();
  const std::vector<uintptr_t> handles = before.handles;
  for (int cycle = 0; cycle < 4 && !HasFailure(); ++cycle) LoadServeAndUnload();
  faults::Resources after = faults::TakeResources();
  EXPECT_EQ(after.handles.size(), handles.size());
  for (const auto& kind : process_stats::DescribeNewHandles(handles, after.handles)) {
    ADD_FAILURE() << kind.second << " x " << kind.first << " left after 4 cycles";
  }
}

}  // namespace
