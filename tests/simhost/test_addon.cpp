// An add-on module for the add-on host test. It reports what happens to it to
// the test program (through the program's exported SimhostTestRecord): the
// panel table it finds at DLLStart, its own SimConnect connection (opened from
// a worker thread, configuration index 1, as the test configures it), the
// quit message, DLLStop and its unloading.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "simconnect/SimConnect.h"
#include "simconnect/protocol.h"
#include "simconnect/wire.h"

namespace {

using RecordFn = void (*)(const char* text);

RecordFn record = nullptr;
HANDLE worker = nullptr;
HANDLE stopEvent = nullptr;

void Note(const char* text) {
  if (record == nullptr) {
    record = reinterpret_cast<RecordFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "SimhostTestRecord")));
  }
  if (record != nullptr) record(text);
}

DWORD WINAPI Worker(void*) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE handle = nullptr;
  if (SimConnect_Open(&handle, "TestAddon", nullptr, 0, event, 1) != S_OK) {
    Note("open failed");
    CloseHandle(event);
    return 1;
  }
  Note("opened");
  bool quit = false;
  while (!quit) {
    HANDLE waits[2] = {event, stopEvent};
    DWORD r = WaitForMultipleObjects(2, waits, FALSE, 10000);
    if (r != WAIT_OBJECT_0) {
      Note(r == WAIT_OBJECT_0 + 1 ? "stopped before the quit message" : "no quit message");
      break;
    }
    const void* message = nullptr;
    uint32_t size = 0;
    while (!quit && SimConnect_GetNextDispatch(handle, &message, &size) == S_OK) {
      uint32_t kind = wire::LoadU32(static_cast<const uint8_t*>(message) + protocol::kReceivedKindOffset);
      if (kind == protocol::kKindOpen) Note("open reply");
      if (kind == protocol::kKindQuit) {
        Note("quit");
        quit = true;
      }
    }
  }
  SimConnect_Close(handle);
  Note("closed");
  CloseHandle(event);
  return 0;
}

}  // namespace

extern "C" {

__declspec(dllexport) void* Panels = nullptr;

__declspec(dllexport) int64_t DLLStart() {
  if (Panels != nullptr) {
    const uint64_t* table = static_cast<const uint64_t*>(Panels);
    auto name = reinterpret_cast<const char* (*)(int32_t)>(static_cast<uintptr_t>(table[57]));
    auto lookup = reinterpret_cast<int32_t (*)(const char*)>(static_cast<uintptr_t>(table[49]));
    auto read = reinterpret_cast<double (*)(int32_t)>(static_cast<uintptr_t>(table[51]));
    char line[512];
    std::snprintf(line, sizeof line, "panels %s %d %.1f", name(0), lookup(name(0)), read(0));
    Note(line);
  } else {
    Note("no panels");
  }
  Note("start");
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  worker = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr);
  return 0x1234;
}

__declspec(dllexport) void DLLStop() {
  Note("stop");
  SetEvent(stopEvent);
  WaitForSingleObject(worker, 10000);
  CloseHandle(worker);
  CloseHandle(stopEvent);
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) Note("detach");
  return TRUE;
}
