// What the LVAR bridge uses of the module around it, defined by src/bridge
// (`Panels` by the module itself, dll_main.cpp). A program that links the
// bridge's code directly uses these as they are but for two: it defines
// `Panels` over a substitute table, and may define its own CurrentTick (alone
// in src/bridge/tick.cpp, so that the linker then leaves the module's out).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

// The simulator's panel-service table, filled by the simulator after loading
// the module (null until then). Defined by the module, which exports it; read
// afresh at every use, never cached.
extern "C" void* Panels;

// One log line: printf-style, at most 1023 characters, no result.
void LogMessage(const char* format, ...);

// Logs the result of one SimConnect call with the SendID of the last request;
// true exactly when result is 0.
bool CheckResult(const char* label, HRESULT result);

// The SimConnect handle in the connection holder at the moment of the call;
// null when there is none. Every SimConnect call fetches it anew.
HANDLE SimConnectHandle();

// Bytes of requests waiting to be written on the connection to the simulator:
// 0 on the in-process channel, which hands requests over at once, and when
// there is no connection.
uint32_t QueuedRequestBytes();

// True once the worker has been asked to stop. The stop that DLLStop raises is
// a flag, cheap enough to read after every panel read; with `testEvent` the
// worker's Stop event is tested as well (a round trip to the system), for a
// stop set from outside through the event's name.
bool StopRequested(bool testEvent);

// The system's 32-bit millisecond tick count. The one source of time of the
// bridge, so that tests can replace it. Compare ticks only as unsigned 32-bit
// differences.
uint32_t CurrentTick();
