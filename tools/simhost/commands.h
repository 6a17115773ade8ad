// The console's commands, typed on standard input or read from a script:
// choose a menu item, change aircraft, read and set variables, send an
// exception or the quit message, run frames, wait, stop. Each command writes
// its output through the host's console lines.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

#include "simconnect/slim_lock.h"

#include "aircraft_description.h"

namespace simhost {

class SimHost;

// An aircraft argument: "gen:N" (N generated variables), "gen-mjc:N" (the same
// with the MJC handshake) or the path of an aircraft file.
bool LoadAircraftArgument(const std::string& argument, AircraftDescription* description, std::string* error);

// The command list for "help" and --help.
const char* CommandHelp();

class CommandRunner {
 public:
  enum Result { kDone, kFailed, kStop };

  // `stopEvent` (optional, manual-reset) cuts the waits short once set.
  explicit CommandRunner(SimHost& host, HANDLE stopEvent = nullptr) : host_(host), stopEvent_(stopEvent) {}

  // Runs one line. kFailed with `error` when the command is unknown, its
  // arguments are wrong or it could not do what it says; kStop for "stop".
  // Lines from several threads run one at a time.
  Result Run(const std::string& line, std::string* error);

 private:
  Result RunLocked(const std::string& line, std::string* error);
  // Sleeps `ms`; false when the stop event came first.
  bool Pause(DWORD ms);
  // Polls `condition` every 10 ms for up to `timeoutMs`; false on time-out or stop.
  template <typename Condition>
  bool WaitUntil(Condition condition, DWORD timeoutMs);

  SimHost& host_;
  HANDLE stopEvent_;
  SlimLock lock_;  // one command at a time
};

}  // namespace simhost
