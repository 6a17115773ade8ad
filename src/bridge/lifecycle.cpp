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

// Waits for `object` until `deadline` (a tick), handling meanwhile the
// messages that other threads send to this thread's windows: the worker may be
// inside SendMessageW to the simulator's main window, whose thread is the one
// waiting here. Posted messages stay queued for the thread's own loop. Inside
// the loader's lock (process detach) it only waits.
bool WaitUntilDeadline(HANDLE object, DWORD deadline, bool letSentMessagesThrough) {
  for (;;) {
    const DWORD now = GetTickCount();
    const DWORD left = static_cast<int32_t>(deadline - now) > 0 ? deadline - now : 0;
    if (!letSentMessagesThrough) return WaitForSingleObject(object, left) == WAIT_OBJECT_0;
    // MWMO_INPUTAVAILABLE: a message that the thread has already seen (its
    // own GetQueueStatus or PeekMessage) but not handled wakes the wait too.
    DWORD result = MsgWaitForMultipleObjectsEx(1, &object, left, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
    if (result != WAIT_OBJECT_0 + 1) return result == WAIT_OBJECT_0;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

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
  // The worker holds a reference on the module from before its first
  // instruction to its last (it ends with FreeLibraryAndExitThread), so the
  // simulator's FreeLibrary unmaps the module only once the worker is gone,
  // however long DLLStop had to give up waiting for it.
  HMODULE reference = nullptr;
  HANDLE thread = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&BridgeThread),
                         &reference)) {
    thread = CreateThread(nullptr, kWorkerStackSize, BridgeThread, nullptr, 0, nullptr);
    if (thread == nullptr) FreeLibrary(reference);
  }
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

void StopBridge(bool letSentMessagesThrough) {
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
  const DWORD deadline = GetTickCount() + kStopWaitMs;
  if (IsValid(end)) {
    ended = WaitUntilDeadline(end, deadline, letSentMessagesThrough);
    // End is set just before the worker returns: within what is left of the
    // same bound, let it leave too, so that nothing of it runs once DLLStop
    // has returned.
    if (ended && IsValid(workerHandles.workerThread)) {
      WaitUntilDeadline(workerHandles.workerThread, deadline, letSentMessagesThrough);
    }
  } else if (IsValid(workerHandles.workerThread)) {
    ended = WaitUntilDeadline(workerHandles.workerThread, deadline, letSentMessagesThrough);
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
