// The simulator as the module meets it: simhost in this process, serving the
// simulator's own pipe name, with the built TVOBridge64.dll as its add-on
// (LoadLibraryW, Panels, DLLStart; at the end the quit message, DLLStop and
// FreeLibrary). The clock is manual: variables move, and periodic title
// messages go out, only when the test runs frames. simhost's console lines are
// captured.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <ctime>
#include <memory>
#include <string>

#include "aircraft_description.h"
#include "sim_host.h"
#include "simhost/simhost_test_env.h"

namespace e2e {

constexpr char kBridgeClientName[] = "TAVO.quin.Bridge";

// An aircraft file of simhost's samples, read into a description.
simhost::AircraftDescription SampleAircraft(const char* fileName);

class HostedBridge {
 public:
  ~HostedBridge() { Stop(); }

  // Starts simhost with `aircraft` and the module; false (with a test
  // failure) when the host does not start.
  bool Start(const simhost::AircraftDescription& aircraft);
  // Waits until the module has opened, set up its menu and areas, and its
  // subscription to the host-request area is in place, so that the
  // application's requests reach it.
  bool WaitUntilReady(DWORD timeoutMs = 20000);
  // The quit message to every client, DLLStop, FreeLibrary.
  void Stop() { host_.Stop(); }

  simhost::SimHost& Host() { return host_; }
  LogCapture& Console() { return console_; }
  // The module's session; null when it has not connected.
  std::shared_ptr<simhost::Session> BridgeSession();
  // When Start was called (for the log's timestamps).
  std::time_t StartedAt() const { return startedAt_; }
  // Runs a choice of the module's menu and waits for simhost to show the
  // text that the item puts on screen.
  bool Choose(const std::string& item, const std::string& expectedText, DWORD timeoutMs = 5000);

 private:
  LogCapture console_;
  simhost::SimHost host_;
  std::time_t startedAt_ = 0;
};

// The module's Windows path (the build path on drive Z:, as Wine maps it).
std::wstring BridgeModulePath();

}  // namespace e2e
