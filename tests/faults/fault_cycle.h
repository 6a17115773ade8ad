// What every fault program here needs around one cycle of the built module:
// the module loaded into this process as the simulator loads it (simhost's
// add-on host: LoadLibraryW, Panels, DLLStart; DLLStop, FreeLibrary), served
// either by simhost's server in this process, by a raw pipe server that the
// test plays byte by byte, or by simhost.exe running as a process of its own;
// what the process holds before and after a cycle (handles, threads); and
// readings of the bridge's log.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "addon_host.h"
#include "aircraft_description.h"
#include "aircraft_host.h"
#include "bridge_log_file.h"
#include "host_log.h"
#include "sim_clock.h"
#include "sim_host.h"
#include "simhost/simhost_test_env.h"
#include "support/raw_server.h"

namespace faults {

// DLLStop waits at most 1000 ms for the worker's End; the worker's teardown
// adds the close's own pauses (100 ms before and 250 ms after the shutdown,
// then up to 250 ms steps while a late completion holds the transport).
// A host that waits longer than this is hanging, not slow.
constexpr DWORD kStopBoundMs = 3000;

// What the process holds at one moment: open handle values and threads.
struct Resources {
  std::vector<uintptr_t> handles;
  size_t threads = 0;
};
Resources TakeResources();
size_t ThreadCount();

// Records a test failure when the process holds more than `slack` handles or
// threads above `before` (taken after a warm-up cycle). Threads may take
// a moment to leave: they are waited for up to a few seconds. The failure
// lists what the new handles are.
void ExpectNothingLeft(const Resources& before, size_t slack, const char* when);

// True while the worker exists and has not finished its teardown (its End
// event exists and is not set).
bool WorkerRunning();
// True when none of the module's three named events exists any more.
bool BridgeEventsGone();

// An aircraft of `count` variables named <prefix>0, <prefix>1, ... that all
// ramp from 0 to 1000 over `periodS` seconds (so each frame moves them), and
// the title `title`.
simhost::AircraftDescription RampAircraft(const std::string& title, const std::string& prefix, size_t count,
                                          double periodS);

// The module hosted by this process, with simhost's server (no add-on of its
// own) in this process on the simulator's pipe. The server can go away
// without a word (Kill) while the module stays loaded; the module's stop is
// timed.
class ServedModule {
 public:
  ~ServedModule();

  // Starts the server (frames on their own thread unless `manualClock`) and
  // loads and starts the module; waits until the module has subscribed to
  // the host-request area.
  bool Start(const simhost::AircraftDescription& aircraft, bool manualClock = false,
             size_t maxPendingBytes = simhost::Outbox::kDefaultMaxPendingBytes);
  simhost::SimHost& Host() { return *host_; }
  LogCapture& Console() { return console_; }
  std::shared_ptr<simhost::Session> BridgeSession();
  std::time_t StartedAt() const { return startedAt_; }

  // The server goes away abruptly: every connection is closed from the
  // server's side with no quit message, then the server stops. The module
  // stays loaded.
  void Kill();
  // A fresh server on the simulator's pipe (after Kill), to see whether the
  // module comes back to it.
  bool Restart(const simhost::AircraftDescription& aircraft);
  // The server's quit message to every client, as the simulator sends it
  // when it shuts down, without stopping the server.
  void SendQuit() { host_->Core().SendQuitToAll(); }

  // DLLStop and FreeLibrary; the milliseconds they took.
  DWORD StopModule();
  // The server (after the module).
  void StopServer();

 private:
  simhost::SimHostOptions Options(const simhost::AircraftDescription& aircraft, bool manualClock,
                                  size_t maxPendingBytes);

  LogCapture console_;
  std::unique_ptr<simhost::SimHost> host_;
  simhost::HostLog addonLog_{[](const std::string&) {}};
  std::unique_ptr<simhost::AddonHost> addon_;
  std::time_t startedAt_ = 0;
};

// The module hosted by this process with its panel services on an aircraft
// of the test's own, facing a RawServer on the simulator's pipe.
class RawServedModule {
 public:
  explicit RawServedModule(const simhost::AircraftDescription& aircraft);
  ~RawServedModule();

  // Loads and starts the module; the server accepts it, checks its Open,
  // answers it and reads the 23 set-up requests.
  bool Start();
  RawServer& Server() { return *server_; }
  simhost::AircraftHost& Aircraft() { return aircraftHost_; }
  simhost::SimClock& Clock() { return clock_; }
  std::time_t StartedAt() const { return startedAt_; }
  DWORD StopModule();

 private:
  simhost::SimClock clock_;
  simhost::AircraftHost aircraftHost_{clock_};
  const uint64_t* panelTable_ = nullptr;
  simhost::HostLog addonLog_{[](const std::string&) {}};
  std::unique_ptr<simhost::AddonHost> addon_;
  std::unique_ptr<RawServer> server_;
  std::time_t startedAt_ = 0;
};

// The module hosted by this process with its panel services on an aircraft
// of the test's own whose frames run on a thread here (30 per second), facing
// whatever server owns the simulator's pipe (simhost.exe in a process of its
// own, for one).
class PanelHostedModule {
 public:
  explicit PanelHostedModule(const simhost::AircraftDescription& aircraft);
  ~PanelHostedModule();

  // Starts the frames, loads the module and calls DLLStart.
  bool Start();
  std::time_t StartedAt() const { return startedAt_; }
  DWORD StopModule();

 private:
  void RunFrames();

  simhost::SimClock clock_;
  simhost::AircraftHost aircraftHost_{clock_};
  const uint64_t* panelTable_ = nullptr;
  std::mutex framesLock_;
  std::condition_variable framesStop_;
  bool stopFrames_ = false;  // guarded by framesLock_
  std::thread frames_;
  simhost::HostLog addonLog_{[](const std::string&) {}};
  std::unique_ptr<simhost::AddonHost> addon_;
  std::time_t startedAt_ = 0;
};

// ---- simhost.exe as a process of its own -----------------------------------------

// simhost.exe (built with the tests) run as a child process. Its console
// output goes to a file, never to a pipe: under Wine a child's first window
// starts the desktop process, which inherits the child's standard handles
// and would keep a pipe open after the child has gone.
class SimhostProcess {
 public:
  SimhostProcess() = default;
  // Terminates the child if it still runs.
  ~SimhostProcess();
  SimhostProcess(const SimhostProcess&) = delete;
  SimhostProcess& operator=(const SimhostProcess&) = delete;

  // Starts simhost.exe with `arguments` (the command line after the
  // program's name), its standard output and error going to the file
  // `outputPath` (created anew) and its standard input reading NUL.
  bool Start(const std::wstring& arguments, const std::wstring& outputPath);
  // The output so far.
  std::string Output() const;
  // True once the output holds `part` (waiting up to `timeoutMs`).
  bool WaitForOutput(const std::string& part, DWORD timeoutMs = 10000) const;
  // TerminateProcess with `exitCode`; true once the process has ended
  // (within `timeoutMs`).
  bool Kill(UINT exitCode, DWORD timeoutMs = 5000);
  // The exit code, STILL_ACTIVE while it runs.
  DWORD ExitCode() const;

 private:
  HANDLE process_ = nullptr;
  std::wstring outputPath_;
};

// True once a server instance of the pipe at `path` waits for a client
// (waiting up to `timeoutMs`). It connects nothing.
bool WaitForPipe(const wchar_t* path, DWORD timeoutMs);

// ---- The bridge's log --------------------------------------------------------

// The messages of the log's complete lines while the module may still be
// writing it (a line being written is left out; timestamps are not checked).
e2e::Lines LogSoFar();

// The sum of N over the lines "LVARHandler::Update::N": the values that
// Update published.
size_t PublishedByUpdate(const e2e::Lines& lines);
// Lines that begin with `prefix`.
size_t CountStartingWith(const e2e::Lines& lines, const std::string& prefix);

// The end of a run that only DLLStop ended: its three lines close the log,
// with the worker's close between them; no quit message and no exception
// came before.
void ExpectEndedByStop(const e2e::Lines& lines);
// The end of a run that the simulator's quit message ended: the quit line and
// the worker's close, then DLLStop with nothing left to release.
void ExpectEndedByQuit(const e2e::Lines& lines);
// The simulator quits; the worker ends on the quit message, then DLLStop
// (within its bound) and the server's stop. The whole log, checked to end
// the quit way.
e2e::Lines QuitAndStop(ServedModule& module);

}  // namespace faults
