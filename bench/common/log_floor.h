// What one line of the module's log costs on this machine: the module writes
// a line for every change it publishes, formatted with a local timestamp and
// flushed at once. Timed here with the same steps (format, _time64, local
// time, strftime, one fwrite, fflush) on a file of the temporary folder, and
// the timestamp's steps alone.
#pragma once

#include <cstddef>

namespace bench {

struct LogLineCost {
  double lineUs = 0.0;       // a whole line; 0 when no file could be made
  double timestampUs = 0.0;  // _time64, _localtime64_s and strftime alone
};

LogLineCost MeasureLogLine(size_t lines);

}  // namespace bench
