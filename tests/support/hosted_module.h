// The built TVOBridge64.dll hosted in this process as the simulator hosts it
// (HostedModule, in module_host.h), and the simulator around it: simhost's
// server in this process (with or without its "FS98MAIN" window, which offers
// the in-process channel), a raw pipe server that the test plays byte by byte, or whatever
// server owns the simulator's pipe (simhost.exe as a child, for one). One
// meaning of "ready": the module's subscription to the host-request area is
// in place. Also what a cycle of load, serve and unload may leave behind.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "aircraft_file.h"
#include "aircraft_host.h"
#include "log_capture.h"
#include "module_host.h"
#include "module_log.h"
#include "raw_endpoints.h"
#include "sim_clock.h"
#include "sim_host.h"

// DLLStop waits at most 1000 ms for the worker; the worker's close adds its own
// pauses (100 ms before and 250 ms after the shutdown, then 250 ms steps while a
// late completion holds the transport). A host that waits longer is hanging.
constexpr DWORD kStopBoundMs = 3000;

using simhost::RampAircraft;  // the aircraft most tests serve

struct ServedOptions {
  enum class Server {
    kSimhost,  // simhost's server in this process, on the simulator's pipe
    kRaw,      // a RawServer on the simulator's pipe; Start reads the open (see rawSetUp)
    kOutside,  // nothing started here: another process owns the simulator's pipe
  };
  Server server = Server::kSimhost;
  simhost::AircraftDescription aircraft;  // simhost's aircraft, or the one behind the panel table
  bool window = false;                    // simhost's "FS98MAIN" window: the in-process channel
  bool runFrames = false;                 // frames at 30 per second on a thread; else only by hand
  bool tcp = false;                       // simhost also listens on ::1 and 127.0.0.1 (not in the registry)
  size_t maxPendingBytes = simhost::Outbox::kDefaultMaxPendingBytes;  // simhost drops a slower reader
  bool rawSetUp = true;  // kRaw: Start answers the open and reads the set-up; else the test answers it
};

// The module and its simulator.
class ServedModule {
 public:
  ServedModule() = default;
  // The module first, then the server.
  ~ServedModule();
  ServedModule(const ServedModule&) = delete;
  ServedModule& operator=(const ServedModule&) = delete;

  // Starts the server, loads and starts the module and waits until it is
  // ready (for kOutside: until its log shows the subscription's result).
  bool Start(const ServedOptions& options);

  HostedModule& Module() { return module_; }
  simhost::SimHost& Host() { return *host_; }     // kSimhost
  RawServer& Raw() { return *raw_; }              // kRaw
  simhost::AircraftHost& Aircraft();              // behind the module's panel table
  LogCapture& Console() { return console_; }      // simhost's console lines
  // The module's session in simhost; null when it has not connected.
  std::shared_ptr<simhost::Session> BridgeSession();
  // Runs one of the module's menu items in simhost and waits for the text it shows.
  bool Choose(const std::string& item, const std::string& expectedText);

  // The simulator's shutdown: the quit message to every client, the worker's
  // end, DLLStop and FreeLibrary (within their bound), then the server.
  // Returns the whole log, checked to end the quit way.
  module_log::Lines QuitAndStop();
  // The stop of a worker that runs on whatever its server did: DLLStop and
  // FreeLibrary within their bound, the module's events gone. Returns the
  // whole log, checked to end the stop way.
  module_log::Lines StopRunning();
  // DLLStop and FreeLibrary without a quit message; the milliseconds they took.
  DWORD StopModule();
  // The server goes away abruptly, every connection closed from its side
  // without a quit message; the module stays loaded.
  void KillServer();
  // A fresh simhost on the simulator's pipe (after KillServer).
  bool RestartServer();
  void StopServer();

 private:
  bool StartSimhost();
  bool WaitUntilReady();

  ServedOptions options_;
  LogCapture console_;
  std::unique_ptr<simhost::SimHost> host_;
  std::unique_ptr<RawServer> raw_;
  std::unique_ptr<simhost::SimClock> clock_;           // without simhost
  std::unique_ptr<simhost::AircraftHost> aircraft_;    // without simhost
  std::thread frames_;
  HANDLE stopFrames_ = nullptr;
  HostedModule module_;
};

// ---- What a cycle leaves behind -------------------------------------------------

struct Resources {
  std::vector<uintptr_t> handles;
  size_t threads = 0;
};
Resources TakeResources();
// A test failure when the process holds more than `slack` handles or threads
// above `before`, naming the new handles; threads on their way out are waited for.
void ExpectNothingLeft(const Resources& before, size_t slack, const char* when);
// True while the worker exists and has not set its End event.
bool WorkerRunning();
// True when none of the module's three named events exists any more.
bool BridgeEventsGone();

// Runs `cycle` once as a warm-up (what the process creates once), then
// `count` times, and expects nothing left behind beyond `slack`.
template <typename Cycle>
void CyclesLeaveNothingBehind(int count, size_t slack, Cycle cycle) {
  cycle();
  const Resources before = TakeResources();
  for (int i = 0; i < count && !::testing::Test::HasFailure(); ++i) cycle();
  ExpectNothingLeft(before, slack, "after the counted cycles");
}
