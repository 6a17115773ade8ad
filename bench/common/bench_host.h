// simhost for the benchmarks: the server on the simulator's own pipe name (the
// module opens no other), no TCP, no registry, the frame clock running at
// simhost's default rate as the simulator's would, and, for the in-process
// figures, the main window "FS98MAIN" that offers clients of this process the
// in-process channel. The module itself is hosted by the support layer's
// HostedModule, not by simhost's add-on host, so that the benchmark keeps the
// worker's handle (for GetThreadTimes), counts its wake-ups and gives it any
// panel table. Its console lines are dropped.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "aircraft_description.h"
#include "module_host.h"
#include "sim_host.h"
#include "support/wait_until.h"

namespace bench {

struct HostSettings {
  bool channel = false;    // the main window and its in-process channel
  bool frameClock = true;  // false: frames only by hand
  bool haveAircraft = false;
  simhost::AircraftDescription aircraft;  // else simhost's built-in aircraft
};

class BenchHost {
 public:
  ~BenchHost() { Stop(); }

  bool Start(const HostSettings& settings, std::string* error);
  void Stop() { host_.Stop(); }

  simhost::SimHost& Sim() { return host_; }
  // Waits until the area exists and has at least `subscriptions`
  // subscriptions.
  bool WaitForSubscriptions(const char* areaName, size_t subscriptions, DWORD timeoutMs);
  // Waits until the module's connection is ready to serve the application:
  // its session is open and it has subscribed to the host-request area.
  bool WaitForBridge(DWORD timeoutMs = 20000);
  // Waits until no open session has that name.
  bool WaitUntilGone(const std::string& name, DWORD timeoutMs = 10000);
  // Whether the client of that name has taken the in-process channel.
  bool OnChannel(const std::string& name);
  // Waits until it has: a client takes the channel only once it has handled
  // its open reply, after its first requests went over the pipe.
  bool WaitForChannel(const std::string& name, DWORD timeoutMs = 5000);
  // One line on what crossed the in-process channel so far; empty without
  // the window.
  std::string ChannelSummary();

 private:
  simhost::SimHost host_;
};

class MemoryApp;

// Starts simhost with `settings` and loads the module with `panels` as its
// panel table (null: simhost's own, which exists once it runs), with its
// wake-ups counted (reads of `reads`, which may be null, tell the counter
// whether an Update read anything). With `start`, also DLLStart and the wait
// for the module's connection (and, with the channel, for the module to take
// it). Prints what failed and returns false.
bool StartHostAndModule(BenchHost& host, HostedModule& module, const HostSettings& settings,
                        void* panels, const std::atomic<uint64_t>* reads, bool start = true);

// Opens `app` as the bridge's application: Connect, then the variable list,
// which must hold `count` variables. Prints what failed and returns false.
bool ConnectApplication(MemoryApp& app, uint32_t count, uint32_t listTimeoutMs = 60000);

class LatenessTracker;
// Before Open: every VarData of a bench panel variable goes to `tracker`.
void TrackVarData(MemoryApp& app, LatenessTracker& tracker);

}  // namespace bench
