#include "process_stats.h"

#include <winternl.h>

#include <algorithm>

namespace process_stats {

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

}  // namespace process_stats
