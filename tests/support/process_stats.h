// What a benchmark can see of its own process: CPU time of the process and of
// one thread, private memory, and the number of open handles.
//
// Under Wine, PROCESS_MEMORY_COUNTERS_EX.PrivateUsage stays 0 and
// GetProcessHandleCount reports 0, so private bytes are summed from the
// address space (committed private regions, as Windows counts them) and
// handles are counted by probing handle values. Thread and process times move
// in steps of the system clock tick (10 ms under Wine).
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace process_stats {

struct MemorySample {
  uint64_t privateBytes = 0;   // committed MEM_PRIVATE regions (VirtualQuery walk)
  uint64_t pagefileBytes = 0;  // PROCESS_MEMORY_COUNTERS.PagefileUsage (Wine: resident anonymous memory)
  uint64_t workingSet = 0;     // PROCESS_MEMORY_COUNTERS.WorkingSetSize
  uint32_t handles = 0;        // CountOpenHandles
};

// Committed bytes of the process's private regions.
uint64_t PrivateCommittedBytes();
// Handle values of this process that GetHandleInformation accepts. Handle
// values are multiples of 4; the probe goes on until 4096 values in a row
// after the last open one were closed.
uint32_t CountOpenHandles();
MemorySample SampleMemory();

// The open handle values, as CountOpenHandles finds them.
std::vector<uintptr_t> OpenHandleValues();
// What the handles in `now` and not in `before` are: "Type" or "Type name"
// (names only for events, mutexes, semaphores and sections, whose query never
// blocks), with how many of each.
std::map<std::string, int> DescribeNewHandles(const std::vector<uintptr_t>& before,
                                              const std::vector<uintptr_t>& now);

// CPU time (kernel + user) in milliseconds; 0 when the times cannot be read
// (under Wine also for a thread that has ended).
double ThreadCpuMs(HANDLE thread);
double ProcessCpuMs();

}  // namespace process_stats
