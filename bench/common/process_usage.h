// What a benchmark can see of its own process besides its handles
// (process_stats.h): CPU time of the process and of one thread, and memory.
//
// Under Wine, PROCESS_MEMORY_COUNTERS_EX.PrivateUsage stays 0, so private
// bytes are summed from the address space (committed private regions, as
// Windows counts them). Thread and process times move in steps of the system
// clock tick (10 ms under Wine).
#pragma once

#include <windows.h>

#include <cstdint>

namespace bench {

struct MemorySample {
  uint64_t privateBytes = 0;   // committed MEM_PRIVATE regions (VirtualQuery walk)
  uint64_t pagefileBytes = 0;  // PROCESS_MEMORY_COUNTERS.PagefileUsage (Wine: resident anonymous memory)
  uint64_t workingSet = 0;     // PROCESS_MEMORY_COUNTERS.WorkingSetSize
  uint32_t handles = 0;        // process_stats::CountOpenHandles
};

// Committed bytes of the process's private regions.
uint64_t PrivateCommittedBytes();
MemorySample SampleMemory();

// CPU time (kernel + user) in milliseconds; 0 when the times cannot be read
// (under Wine also for a thread that has ended).
double ThreadCpuMs(HANDLE thread);
double ProcessCpuMs();

}  // namespace bench
