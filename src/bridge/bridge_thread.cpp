// BridgeThread: events, connection, set-up, the wait loop and the teardown.
#include "bridge/bridge_thread.h"

#include <exception>
#include <mutex>
#include <new>

#include "bridge/module_state.h"
#include "bridge/received_fields.h"
#include "bridge/simulator_messages.h"
#include "lvar/bridge_services.h"
#include "lvar/lvar_handler.h"
#include "simconnect/SimConnect.h"
#include "simconnect/protocol.h"

namespace bridge {
namespace {

bool IsValid(HANDLE handle) { return handle != INVALID_HANDLE_VALUE; }

// The wait loop's state, kept across passes (and across an exception in one).
struct LoopState {
  DWORD timeout = kInitialWaitMs;  // of the following wait; INFINITE: none
  HRESULT quit = 0;                // nonzero ends the loop
  bool draining = false;           // a drain of the receive queue is under way
};

// Hands every queued message to SimConnectProcess until the queue is empty or
// the quit message arrives. Any message but object data (the aircraft title)
// makes the following wait a poll, so Update runs without delay.
void DrainReceiveQueue(LoopState& state) {
  for (;;) {
    const void* message = nullptr;
    uint32_t size = 0;
    // A nonzero result: the queue is empty, or the connection failed (that is
    // reported again by every later call; the loop goes on until Stop).
    if (SimConnect_GetNextDispatch(CurrentConnection(), &message, &size) != S_OK) return;

    uint32_t kind = 0;
    bool hasKind = received_fields::ReadKind(static_cast<const uint8_t*>(message), size, &kind);
    if (hasKind && kind == protocol::kKindQuit) {
      LogMessage("Received QUIT Signal!");
      state.quit = kQuitStatus;
      return;
    }
    SimConnectProcess(message, size);
    if (!hasKind || kind != protocol::kKindObjectData) state.timeout = 0;
  }
}

void RunPass(HANDLE const (&handles)[2], LoopState& state) {
  DWORD result = WaitForMultipleObjects(2, handles, FALSE, state.timeout);
  switch (result) {
    case WAIT_OBJECT_0:  // Process: messages are queued
      state.draining = true;
      DrainReceiveQueue(state);
      state.draining = false;
      break;
    case WAIT_OBJECT_0 + 1:  // Stop
      state.quit = kQuitStatus;
      break;
    case WAIT_TIMEOUT: {
      LVARHandler* handler = lvarHandler.load(std::memory_order_acquire);
      state.timeout = handler != nullptr ? handler->Update() : INFINITE;
      break;
    }
    default:  // the wait failed or a handle was abandoned
      LogMessage("Wait error: %d\n", static_cast<int>(GetLastError()));
      state.quit = kQuitStatus;
      break;
  }
}

void RunWaitLoop(HANDLE processEvent) {
  HANDLE const handles[2] = {processEvent, workerHandles.stopEvent};
  LoopState state;
  while (state.quit == 0) {
    try {
      RunPass(handles, state);
    } catch (const std::exception& e) {
      LogMessage("Excpetion %s", e.what());
      // The Process event was consumed by the wait that started this drain:
      // signal it again so that the following pass drains what is left.
      if (state.draining) {
        state.draining = false;
        SetEvent(processEvent);
      }
    }
  }
}

void CreateEvents(HANDLE* processEvent) {
  std::lock_guard<SlimLock> lock(workerHandles.handleLock);
  workerHandles.stopEvent = CreateEventA(nullptr, TRUE, FALSE, kStopEventName);
  *processEvent = CreateEventA(nullptr, FALSE, FALSE, kProcessEventName);
  workerHandles.endEvent = CreateEventA(nullptr, TRUE, FALSE, kEndEventName);
  // DLLStop came before the events existed: it could not set Stop, so the
  // loop ends at its first wait.
  if (workerHandles.stopRequested) SetEvent(workerHandles.stopEvent);
}

// Closes Stop; DLLStop no longer signals it from here on.
void CloseStop() {
  std::lock_guard<SlimLock> lock(workerHandles.handleLock);
  HANDLE stop = workerHandles.stopEvent;
  workerHandles.stopEvent = INVALID_HANDLE_VALUE;
  if (IsValid(stop)) CloseHandle(stop);
}

// Sets End, unless DLLStop has closed it already.
void SignalEnd() {
  std::lock_guard<SlimLock> lock(workerHandles.handleLock);
  if (IsValid(workerHandles.endEvent)) SetEvent(workerHandles.endEvent);
}

// The worker's last touch of the module-wide objects. Returns true when
// DLLStop has already run for this start: it may then have left the holder to
// the worker (it does not take it while the worker is active).
bool LeaveWorker() {
  std::lock_guard<SlimLock> lock(workerHandles.handleLock);
  workerHandles.workerActive = false;
  return workerHandles.stopRequested;
}

// The worker's work, from its events to its teardown; its exit code.
DWORD RunWorker() {
  HANDLE processEvent = nullptr;
  CreateEvents(&processEvent);

  auto* cell = new (std::nothrow) ConnectionHolder();
  if (cell == nullptr) {
    CloseStop();
    CloseHandle(processEvent);
    LeaveWorker();
    return 1;
  }
  connectionHolder.store(cell, std::memory_order_release);

  // DLLStop does not take the holder while this thread is active, so the cell
  // stays valid for the handle to be stored.
  HANDLE opened = nullptr;
  HRESULT result = SimConnect_Open(&opened, kClientName, nullptr, 0, processEvent, kConfigIndexDefault);
  cell->handle.store(opened, std::memory_order_release);
  if (!CheckResult("SimConnect_Open", result)) {
    // End is left unset (DLLStop waits its full time and closes it); Stop and
    // Process have no further use. The holder stays, with its empty handle,
    // for DLLStop to release; when DLLStop has already been and gone (the
    // open outlasted its wait), nobody else will, so it is released here.
    CloseStop();
    CloseHandle(processEvent);
    if (LeaveWorker()) ReleaseConnectionHolder();
    return 1;
  }

  SetupConnection();
  RunWaitLoop(processEvent);

  ReleaseConnectionHolder();
  ReleaseLVARHandler();
  SignalEnd();
  CloseStop();
  CloseHandle(processEvent);
  LeaveWorker();
  return 0;
}

}  // namespace

DWORD WINAPI BridgeThread(LPVOID) {
  DWORD exitCode = RunWorker();
  // The reference that DLLStart took for this worker goes with its last
  // instruction: when it is the module's last, the module is unmapped here,
  // after the thread has left the module's code.
  HMODULE self = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&BridgeThread), &self)) {
    FreeLibraryAndExitThread(self, exitCode);
  }
  return exitCode;
}

}  // namespace bridge
