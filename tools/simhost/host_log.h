// The console output of the stand-in simulator: one line per event (clients
// coming and going, menus, texts, exceptions, aircraft changes). Lines go to a
// sink that the program or a test chooses; writes from several threads never
// interleave. No OS calls.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "simconnect/slim_lock.h"

namespace simhost {

class HostLog {
 public:
  using LineSink = std::function<void(const std::string& line)>;

  // With an empty sink, lines go to standard output, flushed one by one.
  explicit HostLog(LineSink sink = LineSink());

  void Line(const std::string& line);
  // printf-style; a line longer than 4095 characters is cut.
  void Printf(const char* format, ...);

 private:
  SlimLock lock_;
  LineSink sink_;  // called under lock_
};

// A wide text (a path, a pipe name) as the console shows it: ASCII as it is,
// anything else as "?".
std::string Narrow(const std::wstring& text);

}  // namespace simhost
