// bridgectl's console side: the wall clock, Ctrl+C, output lines, and drawing
// the live table of `watch` in place on a console.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "output_format.h"
#include "simconnect/owners.h"

namespace bridgectl {

// The local wall-clock time.
ClockTime Now();

// Writes text and a newline to standard output (or standard error) and flushes.
void PrintLine(const std::string& text);
void PrintErrorLine(const std::string& text);

// A manual-reset event set by Ctrl+C, Ctrl+Break or the console closing (under
// Wine also by SIGINT, which Wine turns into Ctrl+C). One per process: the
// handler is installed while the object lives and the event stays set once
// signalled.
class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  HANDLE event() const { return event_.Get(); }

 private:
  UniqueHandle event_;
};

// Draws lines at a fixed place of the console screen buffer, over the lines
// drawn before. Only for a console: Start fails when standard output is a
// file or a pipe.
class ConsoleArea {
 public:
  // Reserves `lineCount` lines below the cursor. False when standard output
  // is not a console.
  bool Start(size_t lineCount);
  // Draws the lines from the area's first line on, each cut to the screen's
  // width, and leaves the cursor below the area.
  void Draw(const std::vector<std::string>& lines);

 private:
  HANDLE output_ = nullptr;
  COORD origin_{};
  SHORT width_ = 80;
  size_t lineCount_ = 0;
};

// True when standard output is a console (not a file or a pipe).
bool StandardOutputIsConsole();

}  // namespace bridgectl
