// simhost for the benchmarks: the server on the simulator's own pipe name (the
// module opens no other), no TCP, no registry, the frame clock running at
// simhost's default rate as the simulator's would, and, for the in-process
// figures, the main window "FS98MAIN" that offers clients of this process the
// in-process channel. The module itself is hosted by HostedModule, not by
// simhost's add-on host. Console lines are kept (the last few hundred).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "aircraft_description.h"
#include "sim_host.h"

namespace bench {

constexpr char kBridgeClientName[] = "TAVO.quin.Bridge";

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
  // The open session of the client of that name; null when there is none.
  std::shared_ptr<simhost::Session> SessionNamed(const std::string& name);
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
  std::vector<std::string> ConsoleLines();
  // One line on what crossed the in-process channel so far; empty without
  // the window.
  std::string ChannelSummary();

 private:
  simhost::SimHost host_;
  std::mutex lock_;
  std::deque<std::string> lines_;  // guarded by lock_
};

class HostedModule;
class MemoryApp;

// Starts simhost with `settings` and loads the module with `panels` as its
// panel table (null: simhost's own, which exists once it runs); reads of `reads` (may be null) tell the module's wait counter
// whether an Update read anything. With `start`, also DLLStart and the wait
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

// Polls `condition` every few milliseconds until it holds or `timeoutMs`
// passes; returns its last value.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start >= timeoutMs) return condition();
    Sleep(5);
  }
  return true;
}

}  // namespace bench
