// The stand-in simulator as one object: the aircraft and its panel services,
// the SimConnect server (pipe and TCP listeners, one thread per client), the
// frame clock, the registry ports, the hosted add-on and, optionally, the main
// window "FS98MAIN" that offers clients in this process the in-process
// channel. Tests and the console program both drive it through here.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "simconnect/slim_lock.h"

#include "addon_host.h"
#include "aircraft_host.h"
#include "aircraft_description.h"
#include "channel_host.h"
#include "connection.h"
#include "frame_clock.h"
#include "host_log.h"
#include "listener.h"
#include "main_window.h"
#include "read_pause.h"
#include "registry_ports.h"
#include "server_core.h"
#include "sim_clock.h"
#include "simconnect/endpoints.h"

namespace simhost {

// The pipe name (below \\.\pipe\) that clients use when configured for none.

struct SimHostOptions {
  bool pipe = true;
  std::wstring pipeName = endpoints::kDefaultPipeName;  // below \\.\pipe\ .
  bool tcp6 = true;
  bool tcp4 = true;
  uint16_t port6 = 0;  // 0: a port the system chooses
  uint16_t port4 = 0;
  bool writeRegistry = false;  // leave the TCP ports in the registry
  uint32_t frameRate = kDefaultFrameRate;
  // With a manual clock no frame thread runs: frames advance only through
  // AdvanceFrames (tests, the console's "frames" command).
  bool manualClock = false;
  bool haveAircraft = false;  // without one, a small built-in aircraft is loaded
  AircraftDescription aircraft;
  std::wstring addonPath;  // empty: no add-on
  // The main window "FS98MAIN" on a UI thread of its own, which then hosts the
  // add-on and offers clients in this process the in-process channel. One
  // host with a window per process.
  bool window = false;
  HostLog::LineSink logSink;  // empty: standard output
  // At shutdown, how long to wait for the quit message to be written, and then
  // for clients to leave on their own, before the add-on is stopped.
  DWORD quitGraceMs = 1000;
  // A client with more than this many bytes waiting to be written does not
  // read its messages and is dropped.
  size_t maxPendingBytes = Outbox::kDefaultMaxPendingBytes;
};

class SimHost {
 public:
  SimHost();
  ~SimHost();
  SimHost(const SimHost&) = delete;
  SimHost& operator=(const SimHost&) = delete;

  // Brings everything up in order: aircraft, panel services, listeners, frame
  // clock, registry ports, then the add-on (Load, Panels, DLLStart). False with
  // `error` when any step fails; what was started is stopped again.
  bool Start(const SimHostOptions& options, std::string* error);
  // No more clients and no more frames; the quit message to every client and
  // a grace period for them to leave; DLLStop and FreeLibrary; then the
  // remaining connections are closed and the registry ports removed. Safe to
  // call twice. Without `sendQuit` DLLStop comes while every connection is
  // still up, as when the simulator unloads its add-ons without quitting.
  void Stop(bool sendQuit = true);

  ServerCore& Core() { return *core_; }
  AircraftHost& Aircraft() { return *aircraft_; }
  HostLog& Log() { return *log_; }
  const uint64_t* PanelTable() const { return panelTable_; }
  uint16_t Port6() const { return listener_.Port6(); }
  uint16_t Port4() const { return listener_.Port4(); }

  // Runs `count` frames at once (any clock mode).
  void AdvanceFrames(uint32_t count);
  // Replaces the aircraft, as when the user loads another one.
  void ChangeAircraft(const AircraftDescription& description);
  // Connections whose thread is still running.
  size_t ConnectionCount();
  // Closes the connection of client `number`; false when there is none.
  bool Disconnect(uint32_t number);
  // A stalled frame of `ms`: pipe and socket connections read and write
  // nothing, the in-process channel neither handles what its clients submit
  // nor delivers to them, and no pump runs. What came meanwhile is handled,
  // in order, once it ends (read_pause.h). Stop waits for it to end.
  void PauseReads(DWORD ms) { pause_.Begin(ms); }
  // How long the add-on's last DLLStop took.
  DWORD LastDllStopMs() const { return addon_.LastStopMs(); }

  // The in-process channel; null without the window.
  ChannelHost* Channels() { return channels_.get(); }
  // Whether client `number` takes the in-process channel.
  bool OnChannel(uint32_t number) { return channels_ != nullptr && channels_->OnChannel(number); }

 private:
  void OnClient(std::unique_ptr<IoChannel> channel, const char* transport);
  void ReapFinished();  // joins and drops finished connections; lock_ held
  // The open client with host number `number`, for the channel.
  bool FindCandidate(uint32_t number, ChannelCandidate* candidate);
  void AfterFrame();
  // Waits until `condition` holds or `timeoutMs` passes.
  template <typename Condition>
  bool WaitFor(Condition condition, DWORD timeoutMs);

  bool running_ = false;
  ReadPause pause_;  // before what reads it
  bool winsockStarted_ = false;
  std::unique_ptr<HostLog> log_;
  std::unique_ptr<SimClock> clock_;
  std::unique_ptr<AircraftHost> aircraft_;
  std::unique_ptr<ServerCore> core_;
  const uint64_t* panelTable_ = nullptr;
  Listener listener_;
  FrameClock frameClock_;
  RegistryPorts registry_;
  AddonHost addon_;
  std::unique_ptr<ChannelHost> channels_;  // with the window
  MainWindow window_;                      // stopped before channels_ goes
  std::wstring pipePath_;
  DWORD quitGraceMs_ = 1000;
  size_t maxPendingBytes_ = Outbox::kDefaultMaxPendingBytes;

  SlimLock lock_;
  std::vector<std::unique_ptr<Connection>> connections_;  // guarded by lock_
  bool accepting_ = false;                                // guarded by lock_
};

}  // namespace simhost
