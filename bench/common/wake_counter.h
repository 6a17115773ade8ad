// Wake-ups of the hosted module's worker, counted with their reasons. The
// module's one import of WaitForMultipleObjects is the worker's wait loop;
// CountWakes replaces it in the module's import table with a counting
// wrapper, so that every wake-up is seen: a message (the Process event), the
// end of a timed sleep (Update runs), or a wait with time-out 0 (after a
// drain), which does not sleep. A timed sleep whose Update reads no variable
// is an empty pass: a wake-up with nothing due. One counted module per process.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace bench {

struct WakeCounts {
  uint64_t waits = 0;        // waits started by the worker
  uint64_t messages = 0;     // ended by the Process event
  uint64_t timedOut = 0;     // ended by the time-out of a sleep (time-out above 0)
  uint64_t polls = 0;        // time-out 0 (after a drain, or nothing left to wait for): no sleep
  uint64_t emptyPasses = 0;  // timed-out sleeps whose Update read no variable
  uint64_t other = 0;        // Stop, failures
};
WakeCounts operator-(const WakeCounts& a, const WakeCounts& b);

// Puts the counting wait in place in the loaded `module`, before DLLStart;
// reads of `reads` (null: empty passes are not counted) tell it whether an
// Update read anything. False with `error` when the module imports no
// WaitForMultipleObjects by name.
bool CountWakes(HMODULE module, const std::atomic<uint64_t>* reads, std::string* error);
// The counts so far.
WakeCounts Wakes();

}  // namespace bench
