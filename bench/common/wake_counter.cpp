#include "wake_counter.h"

#include <cstring>

namespace bench {

namespace {

using WaitFn = DWORD(WINAPI*)(DWORD, const HANDLE*, BOOL, DWORD);

// Written by CountWakes before DLLStart and read by the worker only afterwards; the
// counts are read by other threads.
WaitFn realWait = nullptr;
const std::atomic<uint64_t>* readCounter = nullptr;
std::atomic<uint64_t> waits{0}, messages{0}, timedOut{0}, polls{0}, emptyPasses{0}, other{0};
// The worker's own state between two waits.
bool passPending = false;
uint64_t readsAtWake = 0;

uint64_t CurrentReads() { return readCounter != nullptr ? readCounter->load(std::memory_order_relaxed) : 0; }

// Called by the worker's wait loop in place of WaitForMultipleObjects.
DWORD WINAPI CountingWait(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs) {
  // The Update that the previous time-out started has ended.
  if (passPending && readCounter != nullptr && CurrentReads() == readsAtWake) {
    emptyPasses.fetch_add(1, std::memory_order_relaxed);
  }
  passPending = false;
  DWORD result = realWait(count, handles, waitAll, timeoutMs);
  waits.fetch_add(1, std::memory_order_relaxed);
  if (result == WAIT_OBJECT_0) {
    messages.fetch_add(1, std::memory_order_relaxed);
  } else if (result == WAIT_TIMEOUT && timeoutMs == 0) {
    polls.fetch_add(1, std::memory_order_relaxed);
  } else if (result == WAIT_TIMEOUT) {
    timedOut.fetch_add(1, std::memory_order_relaxed);
    passPending = true;
    readsAtWake = CurrentReads();
  } else {
    other.fetch_add(1, std::memory_order_relaxed);
  }
  return result;
}

// Replaces the module's import of `function` from `dll` with `replacement`;
// returns the address it held, or null when the module imports no such
// function by name.
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
  auto* base = reinterpret_cast<uint8_t*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return nullptr;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name != 0; ++d) {
    if (_stricmp(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
    DWORD lookup = d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk : d->FirstThunk;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + lookup);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      DWORD protection = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) {
        return nullptr;
      }
      void* original = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      return original;
    }
  }
  return nullptr;
}

}  // namespace

WakeCounts operator-(const WakeCounts& a, const WakeCounts& b) {
  WakeCounts d;
  d.waits = a.waits - b.waits;
  d.messages = a.messages - b.messages;
  d.timedOut = a.timedOut - b.timedOut;
  d.polls = a.polls - b.polls;
  d.emptyPasses = a.emptyPasses - b.emptyPasses;
  d.other = a.other - b.other;
  return d;
}

bool CountWakes(HMODULE module, const std::atomic<uint64_t>* reads, std::string* error) {
  void* original =
      PatchImport(module, "KERNEL32.dll", "WaitForMultipleObjects", reinterpret_cast<void*>(&CountingWait));
  if (original == nullptr) {
    *error = "the module does not import WaitForMultipleObjects by name";
    return false;
  }
  realWait = reinterpret_cast<WaitFn>(original);
  readCounter = reads;
  return true;
}

WakeCounts Wakes() {
  WakeCounts counts;
  counts.waits = waits.load();
  counts.messages = messages.load();
  counts.timedOut = timedOut.load();
  counts.polls = polls.load();
  counts.emptyPasses = emptyPasses.load();
  counts.other = other.load();
  return counts;
}

}  // namespace bench
