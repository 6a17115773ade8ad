// Loading, starting, stopping and unloading the add-on module.
#include "addon_host.h"

#include <cinttypes>

#include "host_log.h"

namespace simhost {

namespace {

template <typename Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

bool AddonHost::Load(const std::wstring& path, const uint64_t* panelTable, HostLog& log, std::string* error) {
  log_ = &log;
  name_ = Narrow(path);
  SetLastError(0);
  module_ = LoadLibraryW(path.c_str());
  if (module_ == nullptr) {
    *error = "cannot load the add-on " + name_ + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  dllStart_ = Export<EntryPoint>(module_, "DLLStart");
  dllStop_ = Export<EntryPoint>(module_, "DLLStop");
  if (dllStart_ == nullptr || dllStop_ == nullptr) {
    FreeLibrary(module_);
    module_ = nullptr;
    *error = "the add-on " + name_ + " exports no DLLStart or no DLLStop";
    return false;
  }
  // `Panels` is a data export: its address is that of the module's pointer.
  auto* panels = Export<void**>(module_, "Panels");
  if (panels != nullptr) {
    *panels = const_cast<uint64_t*>(panelTable);
    log.Printf("add-on %s loaded, panel services at %p", name_.c_str(), static_cast<const void*>(panelTable));
  } else {
    log.Printf("add-on %s loaded; it has no Panels export", name_.c_str());
  }
  return true;
}

void AddonHost::Start() {
  if (module_ == nullptr || started_) return;
  started_ = true;
  int64_t result = dllStart_();
  log_->Printf("add-on %s started (DLLStart returned 0x%" PRIx64 ")", name_.c_str(), static_cast<uint64_t>(result));
}

void AddonHost::Stop(const std::function<void()>& beforeUnload) {
  if (module_ == nullptr) return;
  if (started_) {
    const DWORD start = GetTickCount();
    dllStop_();
    stopMs_ = GetTickCount() - start;
    log_->Printf("add-on %s stopped", name_.c_str());
  }
  if (beforeUnload) beforeUnload();
  FreeLibrary(module_);
  module_ = nullptr;
  started_ = false;
  log_->Printf("add-on %s unloaded", name_.c_str());
}

}  // namespace simhost
