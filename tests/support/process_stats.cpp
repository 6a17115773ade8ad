#include "process_stats.h"

#include <psapi.h>
#include <winternl.h>

#include <algorithm>

namespace process_stats {

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

std::vector<uintptr_t> OpenHandleValues() {
  constexpr uintptr_t kGapAfterLast = 4096 * 4;
  std::vector<uintptr_t> open;
  uintptr_t last = 0;
  DWORD flags = 0;
  for (uintptr_t value = 4; value <= last + kGapAfterLast; value += 4) {
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      open.push_back(value);
      last = value;
    }
  }
  return open;
}

uint32_t CountOpenHandles() { return static_cast<uint32_t>(OpenHandleValues().size()); }

namespace {

using QueryObjectFn = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
constexpr OBJECT_INFORMATION_CLASS kObjectNameInformation = static_cast<OBJECT_INFORMATION_CLASS>(1);

std::string Narrow(const UNICODE_STRING& text) {
  std::string narrow;
  for (USHORT i = 0; i < text.Length / sizeof(WCHAR); ++i) {
    narrow += text.Buffer[i] < 0x80 ? static_cast<char>(text.Buffer[i]) : '?';
  }
  return narrow;
}

std::string Describe(QueryObjectFn query, HANDLE handle) {
  alignas(8) unsigned char buffer[2048];
  ULONG length = 0;
  if (query == nullptr || query(handle, ObjectTypeInformation, buffer, sizeof buffer, &length) != 0) return "?";
  std::string type = Narrow(reinterpret_cast<PUBLIC_OBJECT_TYPE_INFORMATION*>(buffer)->TypeName);
  if (type == "Event" || type == "Mutant" || type == "Semaphore" || type == "Section") {
    if (query(handle, kObjectNameInformation, buffer, sizeof buffer, &length) == 0) {
      std::string name = Narrow(reinterpret_cast<UNICODE_STRING*>(buffer)[0]);
      if (!name.empty()) type += " " + name;
    }
  }
  return type;
}

}  // namespace

std::map<std::string, int> DescribeNewHandles(const std::vector<uintptr_t>& before,
                                              const std::vector<uintptr_t>& now) {
  auto query = reinterpret_cast<QueryObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  std::map<std::string, int> kinds;
  for (uintptr_t value : now) {
    if (std::find(before.begin(), before.end(), value) != before.end()) continue;
    ++kinds[Describe(query, reinterpret_cast<HANDLE>(value))];
  }
  return kinds;
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
  sample.handles = CountOpenHandles();
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

}  // namespace process_stats
