// Waiting in tests, always with a time-out: the one poll of a condition, and
// an event to wait on.
#pragma once

#include <winsock2.h>
#include <windows.h>

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
