// The module-wide objects (see module_state.h) and the services that the LVAR
// code reaches through bridge_services.h.
#include "bridge/module_state.h"

#include "lvar/bridge_services.h"
#include "lvar/lvar_handler.h"
#include "simconnect/SimConnect.h"
#include "simconnect/client.h"

namespace bridge {

std::atomic<ConnectionHolder*> connectionHolder{nullptr};
std::atomic<LVARHandler*> lvarHandler{nullptr};
bool accessDisabled = false;
WorkerHandles workerHandles;

HANDLE CurrentConnection() {
  ConnectionHolder* cell = connectionHolder.load(std::memory_order_acquire);
  return cell == nullptr ? nullptr : cell->handle.load(std::memory_order_acquire);
}

void ReleaseConnectionHolder() {
  ConnectionHolder* cell = connectionHolder.exchange(nullptr, std::memory_order_acq_rel);
  if (cell == nullptr) return;
  // An empty handle (the open failed) is closed all the same: the failure is
  // only logged.
  HANDLE handle = cell->handle.exchange(nullptr, std::memory_order_acq_rel);
  HRESULT result = SimConnect_Close(handle);
  // The holder is already taken, so the SendID logged here is -1, as for any
  // call made after the handle is gone.
  CheckResult("SimConnect_Close", result);
  delete cell;
}

void ReleaseLVARHandler() {
  LVARHandler* handler = lvarHandler.exchange(nullptr, std::memory_order_acq_rel);
  delete handler;  // the registry releases its entries
}

}  // namespace bridge

HANDLE SimConnectHandle() { return bridge::CurrentConnection(); }

uint32_t QueuedRequestBytes() { return QueuedSendBytes(bridge::CurrentConnection()); }

bool StopRequested(bool testEvent) {
  if (bridge::workerHandles.stopRequested.load(std::memory_order_acquire)) return true;
  if (!testEvent) return false;
  // Read without the lock: the worker, the only caller, is also the only
  // thread that closes Stop.
  HANDLE stop = bridge::workerHandles.stopEvent;
  return stop != nullptr && stop != INVALID_HANDLE_VALUE && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
}
