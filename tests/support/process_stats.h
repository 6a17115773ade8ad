// The open handles of this process, for the tests' leak checks and the
// benchmarks' figures. Under Wine GetProcessHandleCount reports 0, so handles
// are found by probing handle values.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace process_stats {

// Handle values of this process that GetHandleInformation accepts. Handle
// values are multiples of 4; the probe goes on until 4096 values in a row
// after the last open one were closed.
uint32_t CountOpenHandles();
// The open handle values, as CountOpenHandles finds them.
std::vector<uintptr_t> OpenHandleValues();
// What the handles in `now` and not in `before` are: "Type" or "Type name"
// (names only for events, mutexes, semaphores and sections, whose query never
// blocks), with how many of each.
std::map<std::string, int> DescribeNewHandles(const std::vector<uintptr_t>& before,
                                              const std::vector<uintptr_t>& now);

}  // namespace process_stats
