#include "module_host.h"

#include "lvar/records.h"
#include "support/paths.h"

std::wstring BridgeModulePath() { return WindowsPath(TVO_BRIDGE_DLL); }

HostedModule::~HostedModule() {
  if (started_) Stop();
  if (worker_ != nullptr) WaitForWorker();
  Unload();
}

bool HostedModule::Load(std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  module_ = LoadLibraryW(BridgeModulePath().c_str());
  if (module_ == nullptr) {
    *error = "cannot load the module (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  dllStart_ = reinterpret_cast<int64_t (*)()>(reinterpret_cast<void*>(GetProcAddress(module_, "DLLStart")));
  dllStop_ = reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(module_, "DLLStop")));
  panels_ = reinterpret_cast<void**>(GetProcAddress(module_, "Panels"));
  if (dllStart_ == nullptr || dllStop_ == nullptr || panels_ == nullptr) {
    *error = "the module lacks DLLStart, DLLStop or Panels";
    return false;
  }
  return true;
}

void HostedModule::SetPanels(const void* table) { *panels_ = const_cast<void*>(table); }

int64_t HostedModule::Start() {
  startedAt_ = std::time(nullptr);
  const int64_t result = dllStart_();
  if (result != 0 && result != 0xBAADF00D) {
    if (worker_ != nullptr) CloseHandle(worker_);
    worker_ = nullptr;
    // DLLStop closes the handle DLLStart returned; this one is the host's.
    DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(result), GetCurrentProcess(), &worker_, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    started_ = true;
  }
  return result;
}

DWORD HostedModule::Stop() {
  const DWORD start = GetTickCount();
  dllStop_();
  started_ = false;
  return GetTickCount() - start;
}

void HostedModule::Unload() {
  if (module_ != nullptr) FreeLibrary(module_);
  module_ = nullptr;
  if (worker_ != nullptr && WaitForSingleObject(worker_, 0) == WAIT_OBJECT_0) {
    CloseHandle(worker_);
    worker_ = nullptr;
  }
}

int HostedModule::WaitForWorker(DWORD timeoutMs) {
  if (worker_ == nullptr || WaitForSingleObject(worker_, timeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeThread(worker_, &code);
  return static_cast<int>(code);
}

void HostedModule::ReleaseWorker() {
  if (worker_ != nullptr) CloseHandle(worker_);
  worker_ = nullptr;
}

std::shared_ptr<simhost::Session> OpenSessionNamed(simhost::SimHost& host, const std::string& name) {
  for (const auto& session : host.Core().Sessions()) {
    if (session->Opened() && session->Name() == name) return session;
  }
  return nullptr;
}

size_t AreaSubscriptions(simhost::SimHost& host, const char* areaName) {
  for (const auto& area : host.Core().ClientData().Areas()) {
    if (area.name == areaName) return area.subscriptions;
  }
  return 0;
}

bool BridgeReady(simhost::SimHost& host) {
  return OpenSessionNamed(host, kBridgeClientName) != nullptr &&
         AreaSubscriptions(host, records::kHostRequestAreaName) > 0;
}
