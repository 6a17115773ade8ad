// Helpers shared by the client tests.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class SimConnectClient;

// A pipe path no other test program uses: \\.\pipe\tvo-test-<pid>-<tag>-<n>.
std::wstring UniquePipePath(const char* tag);
// The name part below \\.\pipe\ of such a path.
std::wstring PipeNameOf(const std::wstring& path);

// Starts `program` (a Windows path) with `arguments`, and `input`, `output`
// and `error` (inheritable handles; null for none) as its standard handles.
// The child inherits every inheritable handle of this process. The process
// handle, or null when it did not start.
HANDLE StartChild(const std::wstring& program, const std::wstring& arguments, HANDLE input, HANDLE output,
                  HANDLE error);

// Polls `condition` every millisecond or so until it holds or the time-out passes.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

// A received message of `size` bytes with the header (size, version 4, kind);
// the rest is zero.
std::vector<uint8_t> MakeReceived(uint32_t kind, uint32_t size);

// Opens a connection object straight over the transport to the pipe at `path`
// (no configuration, no Open request), with `notifyEvent` as its event.
// Null when the connection attempt failed.
SimConnectClient* ConnectClientToPipe(const std::wstring& path, HANDLE notifyEvent,
                                      uint32_t maxReceiveSize = 41088);

// An auto-reset, unnamed event owned by the test.
struct TestEvent {
  TestEvent() : handle(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~TestEvent() { CloseHandle(handle); }
  TestEvent(const TestEvent&) = delete;
  TestEvent& operator=(const TestEvent&) = delete;
  bool Wait(DWORD timeoutMs = 5000) const { return WaitForSingleObject(handle, timeoutMs) == WAIT_OBJECT_0; }
  bool IsSet() const { return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }
  HANDLE handle;
};
