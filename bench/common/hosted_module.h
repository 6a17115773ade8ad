// The built TVOBridge64.dll hosted as the simulator hosts it (LoadLibraryW, a
// panel-service table in `Panels`, DLLStart; DLLStop, FreeLibrary), by the
// benchmark itself rather than by simhost's add-on host, so that it can keep
// the worker thread handle that DLLStart returns (for GetThreadTimes) and give
// the module any panel table.
//
// The module's one import of WaitForMultipleObjects is the worker's wait
// loop. Load replaces it in the module's import table with a counting
// wrapper, so that every wake-up of the worker is seen with its reason: a
// message (the Process event), the end of a timed sleep (Update runs), or a
// wait with time-out 0 (after a drain), which does not sleep. A timed sleep whose
// Update reads no variable is an empty pass: a wake-up with nothing due.
// One hosted module per process.
#pragma once

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

// The module's Windows path: the build path of TVOBridge64.dll on drive Z:.
std::wstring BridgeModulePath();

class HostedModule {
 public:
  HostedModule() = default;
  // Stops the module but leaves it loaded: it may only be unloaded once the
  // host has let go of its connection (Unload).
  ~HostedModule() { Stop(); }
  HostedModule(const HostedModule&) = delete;
  HostedModule& operator=(const HostedModule&) = delete;

  // Loads the module and puts the counting wait in place. False with `error`
  // when the module or one of its exports is missing.
  bool Load(const std::wstring& path, std::string* error);
  // Stores `table` in the module's `Panels`.
  void SetPanels(void* table);
  // Reads of this counter tell the wait wrapper whether an Update read
  // anything (null: empty passes are not counted).
  void CountReadsWith(const std::atomic<uint64_t>* reads);
  // DLLStart; true when it started a worker. The worker's handle stays usable
  // (a duplicate) until Stop.
  bool Start();
  // DLLStop, which returns once the worker has ended (or after its 1000 ms).
  void Stop();
  // FreeLibrary. Call after the host has dropped the module's connection.
  void Unload();

  HANDLE Worker() const { return worker_; }
  WakeCounts Wakes() const;

 private:
  using EntryPoint = int64_t (*)();
  HMODULE module_ = nullptr;
  EntryPoint dllStart_ = nullptr;
  EntryPoint dllStop_ = nullptr;
  void** panels_ = nullptr;
  HANDLE worker_ = nullptr;
  bool started_ = false;
};

}  // namespace bench
