// The module's entry points, behind the exports of dll_main.cpp.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

namespace bridge {

// Process attach: no thread notifications, the foreground lock time-out set to
// 0 ms (written to the user profile and broadcast), then, when `module` is not
// null, the log path and its folder.
void AttachProcess(HMODULE module);

// DLLStart: returns 0xBAADF00D when the log is open already (the module counts
// as started); otherwise opens the log, logs "DLLSTART %s" and "Called from %s",
// starts BridgeThread with a 10 MiB stack and returns its thread handle (null
// when the thread could not be created).
int64_t StartBridge();

// DLLStop: sets Stop, waits up to 1000 ms for the worker's End, releases what
// the worker left and closes the log. Safe before any start, after the worker
// ended and when called again (process detach after the simulator's own call):
// each handle is set invalid when closed and never used after that. With
// `letSentMessagesThrough` the wait handles the messages other threads send
// to the calling thread's windows (the simulator's call); process detach,
// inside the loader's lock, only waits.
void StopBridge(bool letSentMessagesThrough);

}  // namespace bridge
