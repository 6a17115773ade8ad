// Hosting one add-on module as the simulator does: LoadLibraryW, the address
// of the panel-service table written into the module's `Panels` export,
// DLLStart once the server runs; at shutdown (after the server has sent its
// quit message) DLLStop, then FreeLibrary. All calls come from one thread:
// the main window's UI thread when simhost has its window, else the thread
// that runs the host.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace simhost {

class HostLog;

class AddonHost {
 public:
  ~AddonHost() { Stop(); }

  // Loads the module and fills its `Panels` export with `panelTable`. A
  // module without DLLStart or DLLStop is refused (unloaded again, false with
  // `error`); one without `Panels` is loaded all the same (the console says
  // so), as it cannot reach the panel variables anyway.
  bool Load(const std::wstring& path, const uint64_t* panelTable, HostLog& log, std::string* error);
  // Calls DLLStart. Once.
  void Start();
  // Calls DLLStop, then `beforeUnload` (when given and a module is loaded),
  // then FreeLibrary. Safe when nothing was loaded.
  void Stop(const std::function<void()>& beforeUnload = nullptr);

  // Milliseconds the last DLLStop took.
  DWORD LastStopMs() const { return stopMs_; }

 private:
  using EntryPoint = int64_t (*)();  // DLLStart's result is logged, DLLStop's ignored

  HMODULE module_ = nullptr;
  EntryPoint dllStart_ = nullptr;
  EntryPoint dllStop_ = nullptr;
  bool started_ = false;
  DWORD stopMs_ = 0;
  HostLog* log_ = nullptr;
  std::string name_;
};

}  // namespace simhost
