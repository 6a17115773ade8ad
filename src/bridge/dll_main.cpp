// Entry points of TVOBridge64.dll. The worker thread and the bridge behind
// DLLStart and DLLStop are built up in the files beside this one.
#include <windows.h>

#include <cstdint>

extern "C" {

// The simulator stores the address of its panel-service table here before it
// calls DLLStart.
__declspec(dllexport) void* Panels = nullptr;

__declspec(dllexport) int64_t DLLStart() { return 0; }

__declspec(dllexport) void DLLStop() {}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
  return TRUE;
}
