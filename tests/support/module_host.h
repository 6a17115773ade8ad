// The built TVOBridge64.dll hosted in this process as the simulator hosts it
// (LoadLibraryW, a panel-service table in its `Panels`, DLLStart; DLLStop,
// FreeLibrary), and what simhost shows of it: its session and its
// subscription to the host-request area, which is what "ready" means. No
// GoogleTest here: the benchmarks host the module through this as well;
// hosted_module.h adds the simulator around it and the tests' checks.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "sim_host.h"

constexpr char kBridgeClientName[] = "TAVO.quin.Bridge";

// The module's Windows path.
std::wstring BridgeModulePath();

// The module itself, loaded by this process.
class HostedModule {
 public:
  HostedModule() = default;
  // DLLStop (when started), the worker's end and FreeLibrary.
  ~HostedModule();
  HostedModule(const HostedModule&) = delete;
  HostedModule& operator=(const HostedModule&) = delete;

  // LoadLibraryW and the three exports; false (with a one-line `error`, when
  // given) when the module or one of its exports is missing.
  bool Load(std::string* error = nullptr);
  void SetPanels(const void* table);
  // DLLStart's result. The worker's handle stays usable (a duplicate) until
  // the next Start or Unload.
  int64_t Start();
  // DLLStop, which returns once the worker has ended (or after its 1000 ms);
  // the milliseconds it took.
  DWORD Stop();
  // FreeLibrary at once, as the simulator does after DLLStop.
  void Unload();
  // Waits for the worker thread to end: its exit code, or -1 on time-out.
  int WaitForWorker(DWORD timeoutMs = 20000);
  // Closes the host's handle of the worker (after Stop), so that a count of
  // the process's handles between cycles does not include it.
  void ReleaseWorker();

  HMODULE Handle() const { return module_; }
  HANDLE Worker() const { return worker_; }
  // When the module was last started (the log's timestamps are not before).
  std::time_t StartedAt() const { return startedAt_; }

 private:
  HMODULE module_ = nullptr;
  int64_t (*dllStart_)() = nullptr;
  void (*dllStop_)() = nullptr;
  void** panels_ = nullptr;
  HANDLE worker_ = nullptr;
  bool started_ = false;
  std::time_t startedAt_ = 0;
};

// The open session of the client named `name` in `host`; null when there is none.
std::shared_ptr<simhost::Session> OpenSessionNamed(simhost::SimHost& host, const std::string& name);
// The subscriptions to the client-data area named `areaName`; 0 while it does not exist.
size_t AreaSubscriptions(simhost::SimHost& host, const char* areaName);
// The module is ready: its session is open and it has subscribed to the
// host-request area.
bool BridgeReady(simhost::SimHost& host);
