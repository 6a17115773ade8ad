// simhost hosting the built TVOBridge64.dll on the default pipe, for running
// bridgectl.exe against the real bridge; and the bridge's log file read back.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "aircraft_description.h"
#include "sim_host.h"
#include "simhost_test_env.h"

// A small aircraft whose variables move fast enough for short tests:
//   CONST_A      5 (constant)
//   RAMP_FAST    0 -> 1000 every 2 s
//   TOGGLE_FAST  0 and 1, every 0.2 s
//   SINE_SLOW    50 +- 10 over 20 s
// and then the aircraft-file lines `more`.
simhost::AircraftDescription FastAircraft(const std::string& title = "TVO Test Aircraft",
                                          const std::string& more = std::string());

class BridgeHost {
 public:
  BridgeHost() = default;
  ~BridgeHost() { Stop(); }
  BridgeHost(const BridgeHost&) = delete;
  BridgeHost& operator=(const BridgeHost&) = delete;

  // Starts simhost on the default pipe and on TCP (ports chosen by the
  // system, not written to the registry) with the aircraft; with `addon` it
  // hosts the DLL and waits until the bridge has set up its client-data areas.
  bool Start(const simhost::AircraftDescription& aircraft, bool addon = true);
  void Stop();

  simhost::SimHost& host() { return *host_; }
  LogCapture& console() { return console_; }

 private:
  std::unique_ptr<simhost::SimHost> host_;
  LogCapture console_;
};

// The bridge's log: the user's roaming application-data folder, then
// "TAVO.quin\logs\TVOBridge.log". Each line's message without its timestamp.
std::vector<std::string> BridgeLogMessages();
// How many log messages contain `part`.
size_t CountLogLines(const std::string& part);
// True once some log message contains `part` (waiting up to `timeoutMs`).
bool WaitForLogLine(const std::string& part, DWORD timeoutMs = 5000);

// The lines of a text, without the empty last one.
std::vector<std::string> SplitLines(const std::string& text);
