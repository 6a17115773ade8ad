// simhost's console lines kept for a test: the sink a SimHost (or a HostLog)
// writes to, and the lines read back from any thread.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "simconnect/slim_lock.h"

#include "host_log.h"

class LogCapture {
 public:
  simhost::HostLog::LineSink Sink();
  std::vector<std::string> Lines();
  // True when a line containing `part` has been printed (waiting up to `timeoutMs`).
  bool WaitForLine(const std::string& part, DWORD timeoutMs = 5000);
  bool HasLine(const std::string& part) { return WaitForLine(part, 0); }
  // Index of the first line containing `part`, or -1.
  int IndexOf(const std::string& part);

 private:
  SlimLock lock_;
  std::vector<std::string> lines_;  // guarded by lock_
};
