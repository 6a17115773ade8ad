// Entry points of TVOBridge64.dll: the exports DLLStart, DLLStop and Panels
// (see exports.def) and DllMain. The work behind them is in lifecycle.cpp.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "bridge/lifecycle.h"

extern "C" {

// The simulator stores the address of its panel-service table here before it
// calls DLLStart. Read afresh at every use.
__declspec(dllexport) void* Panels = nullptr;

__declspec(dllexport) int64_t DLLStart() { return bridge::StartBridge(); }

__declspec(dllexport) void DLLStop() { bridge::StopBridge(true); }

}  // extern "C"

#if defined(__GLIBCXX__)
// The statically linked C++ runtime allocates its emergency exception pool
// (73 KiB) from the C runtime's heap, which outlives this module, when the
// module loads, and frees it only when asked.
namespace __gnu_cxx {
void __freeres();
}
#endif

namespace {

// FreeLibrary (not the process's end): give back what the C++ runtime holds
// for the module's lifetime, so that a simulator that unloads and reloads the
// module does not grow by that much each time. Nothing of the module throws
// after this point.
void ReleaseRuntimeMemory() {
#if defined(__GLIBCXX__)
  __gnu_cxx::__freeres();
#endif
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      bridge::AttachProcess(module);
      break;
    case DLL_PROCESS_DETACH:
      // After the simulator's own DLLStop this finds everything released.
      bridge::StopBridge(false);
      if (reserved == nullptr) ReleaseRuntimeMemory();
      break;
    default:
      break;
  }
  return TRUE;
}
