// DllMain's attach work, DLLStart and DLLStop (see lifecycle.h).
#include "bridge/lifecycle.h"

#include <mutex>

#include "bridge/bridge_log.h"
#include "bridge/bridge_thread.h"
#include "bridge/module_state.h"
#include "lvar/bridge_services.h"

namespace bridge {
namespace {

// SPI_SETFOREGROUNDLOCKTIMEOUT with SPIF_UPDATEINIFILE | SPIF_SENDCHANGE.
constexpr UINT kSetForegroundLockTimeout = 0x2001;
constexpr UINT kUpdateProfileAndBroadcast = 3;
constexpr DWORD kExecutablePathSize = 261;

bool IsValid(HANDLE handle) { return handle != INVALID_HANDLE_VALUE; }

}  // namespace

void AttachProcess(HMODULE module) {
  DisableThreadLibraryCalls(module);
  SystemParametersInfoA(kSetForegroundLockTimeout, 0, nullptr, kUpdateProfileAndBroadcast);
  if (module != nullptr) bridge_log::InitPath();
}

int64_t StartBridge() {
  if (bridge_log::IsOpen()) return kAlreadyStarted;
  if (bridge_log::Open()) LogMessage("DLLSTART %s", kVersion);

  char executable[kExecutablePathSize] = {};
  GetModuleFileNameA(nullptr, executable, kExecutablePathSize);
  LogMessage("Called from %s", executable);

  {
    std::lock_guard<SlimLock> lock(workerHandles.handleLock);
    workerHandles.stopRequested = false;
    workerHandles.workerActive = true;
  }
  HANDLE thread = CreateThread(nullptr, kWorkerStackSize, BridgeThread, nullptr, 0, nullptr);
  if (thread == nullptr) {
    std::lock_guard<SlimLock> lock(workerHandles.handleLock);
    workerHandles.workerActive = false;
  }
  // Without a log there is no "started" state: a further start makes a further
  // worker, and only the newest thread handle is kept.
  if (IsValid(workerHandles.workerThread)) CloseHandle(workerHandles.workerThread);
  workerHandles.workerThread = thread != nullptr ? thread : INVALID_HANDLE_VALUE;
  return reinterpret_cast<int64_t>(thread);
}

void StopBridge() {
  if (bridge_log::IsOpen()) {
    LogMessage("DLLSTOP");
    bridge_log::Flush();
  }

  HANDLE end = INVALID_HANDLE_VALUE;
  {
    std::lock_guard<SlimLock> lock(workerHandles.handleLock);
    workerHandles.stopRequested = true;
    if (IsValid(workerHandles.stopEvent)) SetEvent(workerHandles.stopEvent);
    end = workerHandles.endEvent;
  }

  // The outcome of the wait does not decide anything by itself. A worker that
  // has not created its events yet is waited for through its thread instead.
  bool ended = false;
  const DWORD waitStart = GetTickCount();
  if (IsValid(end)) {
    ended = WaitForSingleObject(end, kStopWaitMs) == WAIT_OBJECT_0;
    // End is set just before the worker returns: within what is left of the
    // same bound, let it leave the module's code too, since the host may
    // unload the module as soon as DLLStop returns.
    const DWORD spent = GetTickCount() - waitStart;
    if (ended && spent < kStopWaitMs && IsValid(workerHandles.workerThread)) {
      WaitForSingleObject(workerHandles.workerThread, kStopWaitMs - spent);
    }
  } else if (IsValid(workerHandles.workerThread)) {
    ended = WaitForSingleObject(workerHandles.workerThread, kStopWaitMs) == WAIT_OBJECT_0;
  }

  bool workerDone = ended;
  {
    std::lock_guard<SlimLock> lock(workerHandles.handleLock);
    if (IsValid(workerHandles.endEvent)) CloseHandle(workerHandles.endEvent);
    workerHandles.endEvent = INVALID_HANDLE_VALUE;
    workerDone = workerDone || !workerHandles.workerActive;
  }

  // What the worker left (the holder after a failed open). A worker that is
  // still busy keeps its objects: Stop is set, and it releases them itself.
  if (workerDone) {
    ReleaseConnectionHolder();
    ReleaseLVARHandler();
  }

  if (bridge_log::IsOpen()) {
    LogMessage("DLLSTOP DONE");
    bridge_log::Close();
  }

  if (IsValid(workerHandles.workerThread)) CloseHandle(workerHandles.workerThread);
  workerHandles.workerThread = INVALID_HANDLE_VALUE;
}

}  // namespace bridge
