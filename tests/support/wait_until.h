// Waiting in tests, always with a time-out: the one poll of a condition, an
// event to wait on, and the next message of a client library connection.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "simconnect/SimConnect.h"

// Polls `condition` every millisecond or so until it holds or `timeoutMs`
// passes; returns its last value.
template <typename Condition>
bool WaitUntil(Condition&& condition, DWORD timeoutMs = 5000) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start >= timeoutMs) return condition();
    Sleep(1);
  }
  return true;
}

// The next message that SimConnect_GetNextDispatch hands out on `handle`,
// accepted by `accept(bytes, size)` (messages it refuses are dropped), waiting
// on the connection's `event` up to `timeoutMs`. False when none came.
template <typename Accept>
bool NextDispatch(HANDLE handle, HANDLE event, DWORD timeoutMs, Accept&& accept) {
  const DWORD start = GetTickCount();
  for (;;) {
    const void* message = nullptr;
    uint32_t size = 0;
    while (SimConnect_GetNextDispatch(handle, &message, &size) == S_OK) {
      if (accept(static_cast<const uint8_t*>(message), size)) return true;
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    WaitForSingleObject(event, timeoutMs - elapsed);
  }
}

// An auto-reset, unnamed event owned by the test.
struct TestEvent {
  TestEvent() : handle(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~TestEvent() { CloseHandle(handle); }
  TestEvent(const TestEvent&) = delete;
  TestEvent& operator=(const TestEvent&) = delete;
  // True when the event was set within `timeoutMs` (and resets it).
  bool Wait(DWORD timeoutMs = 5000) const { return WaitForSingleObject(handle, timeoutMs) == WAIT_OBJECT_0; }
  bool IsSet() const { return Wait(0); }
  HANDLE handle;
};
