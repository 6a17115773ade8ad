#include "process_usage.h"

#include <psapi.h>

#include "process_stats.h"

namespace bench {

namespace {

double FileTimeMs(const FILETIME& time) {
  ULARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = time.dwHighDateTime;
  return static_cast<double>(value.QuadPart) / 10000.0;  // 100 ns units
}

}  // namespace

uint64_t PrivateCommittedBytes() {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  uint64_t total = 0;
  auto* address = static_cast<uint8_t*>(system.lpMinimumApplicationAddress);
  auto* const end = static_cast<uint8_t*>(system.lpMaximumApplicationAddress);
  MEMORY_BASIC_INFORMATION region;
  while (address < end && VirtualQuery(address, &region, sizeof region) == sizeof region) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    auto* next = static_cast<uint8_t*>(region.BaseAddress) + region.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return total;
}

MemorySample SampleMemory() {
  MemorySample sample;
  sample.privateBytes = PrivateCommittedBytes();
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    sample.pagefileBytes = counters.PagefileUsage;
    sample.workingSet = counters.WorkingSetSize;
  }
  sample.handles = process_stats::CountOpenHandles();
  return sample;
}

double ThreadCpuMs(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0.0;
  return FileTimeMs(kernel) + FileTimeMs(user);
}

double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
  return FileTimeMs(kernel) + FileTimeMs(user);
}

}  // namespace bench
