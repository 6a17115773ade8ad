// The module-wide objects of the bridge: the connection holder, the LVAR
// handler, the worker's named events and thread, the access-disabled flag.
//
// Ownership. The worker (BridgeThread) creates the events, the holder and the
// handler; its teardown and DLLStop both release what is left. Each module-wide
// pointer is taken with an atomic exchange, so exactly one of them releases an
// object. DLLStop takes the holder and the handler only once the worker is done
// with them (End set, or workerActive cleared); while the worker is still busy
// (a slow open, a long pass), Stop is set and the worker releases them itself,
// so nothing is freed under it.
//
// Lock order: handleLock is a leaf lock; nothing else is taken while it is held.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "simconnect/slim_lock.h"

class LVARHandler;

namespace bridge {

// Fixed values of the module.
constexpr char kVersion[] = "1.0.0.21";
constexpr char kClientName[] = "TAVO.quin.Bridge";
constexpr char kStopEventName[] = "TAVO.quin.Bridge.Stop";
constexpr char kProcessEventName[] = "TAVO.quin.Bridge.Process";
constexpr char kEndEventName[] = "TAVO.quin.Bridge.End";
constexpr SIZE_T kWorkerStackSize = 0xA00000;  // 10 MiB
constexpr DWORD kInitialWaitMs = 200;
constexpr DWORD kStopWaitMs = 1000;
constexpr HRESULT kQuitStatus = static_cast<HRESULT>(0x80004005);
constexpr int64_t kAlreadyStarted = 0xBAADF00D;

// The heap cell that SimConnect_Open fills with the connection's handle. Every
// SimConnect call of the module takes the handle out of it at the moment of
// the call.
struct ConnectionHolder {
  std::atomic<HANDLE> handle{nullptr};
};

// Null, or the cell of the worker's connection. Taken (exchanged to null) by the
// worker's teardown or by DLLStop; the taker closes the handle and frees the cell.
extern std::atomic<ConnectionHolder*> connectionHolder;

// Null, or the one LVARHandler, created by SetupConnection. Used on the worker
// only; released like the holder.
extern std::atomic<LVARHandler*> lvarHandler;

// Set by the menu's "Disable LVAR Access", cleared by "Enable LVAR Access";
// read by the host-request dispatcher. Worker only.
extern bool accessDisabled;

// The worker's Stop and End events and the worker thread. INVALID_HANDLE_VALUE
// while absent; a handle is set back to it when it is closed, so a second
// DLLStop (at process detach) never signals, waits on or closes it again.
struct WorkerHandles {
  SlimLock handleLock;
  HANDLE stopEvent = INVALID_HANDLE_VALUE;  // guarded by handleLock; closed by the worker
  HANDLE endEvent = INVALID_HANDLE_VALUE;   // guarded by handleLock; closed by DLLStop
  // DLLStop ran for this start. Written under handleLock, right beside
  // SetEvent(Stop); read without it by Update after every due read.
  std::atomic<bool> stopRequested{false};
  bool workerActive = false;  // guarded by handleLock; set by DLLStart, cleared by the worker when done
  HANDLE workerThread = INVALID_HANDLE_VALUE;  // simulator's thread only (DLLStart, DLLStop)
};
extern WorkerHandles workerHandles;

// The handle in the holder, or null when there is no holder.
HANDLE CurrentConnection();

// Takes the holder (exchange to null), closes its handle with SimConnect_Close,
// logs the result under "SimConnect_Close" and frees the cell. Nothing when the
// holder is already gone.
void ReleaseConnectionHolder();

// Takes the handler (exchange to null) and releases it with its registry.
void ReleaseLVARHandler();

}  // namespace bridge
