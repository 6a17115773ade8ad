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

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      bridge::AttachProcess(module);
      break;
    case DLL_PROCESS_DETACH:
      // After the simulator's own DLLStop this finds everything released.
      bridge::StopBridge(false);
      break;
    default:
      break;
  }
  return TRUE;
}
