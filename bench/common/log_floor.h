// What one line of the module's log costs on this machine: the module writes
// a line for every change it publishes, with a local timestamp, flushed at
// once. Timed here with the same steps (format, one reading of the system
// clock, the timestamp text formatted afresh only when the second changes,
// one fwrite, fflush) on a file of the temporary folder; and, apart, what
// formatting the timestamp afresh costs (_time64, local time, strftime), which
// the module does once a second.
#pragma once

#include <cstddef>

namespace bench {

struct LogLineCost {
  double lineUs = 0.0;       // a whole line as the module writes it; 0 when no file could be made
  double timestampUs = 0.0;  // _time64, _localtime64_s and strftime alone
};

LogLineCost MeasureLogLine(size_t lines);

}  // namespace bench
