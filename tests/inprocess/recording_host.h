// The simulator's side of the in-process channel as a test plays it: a window
// of class "FS98MAIN" on a thread of its own that keeps a copy of every record
// sent to it (and answers command 5 with RecordedUnregister), and host
// functions that lend plain heap blocks and record every call.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "simconnect/transport/inprocess_records.h"
#include "support/bytes.h"

class RecordingWindow {
 public:
  RecordingWindow() = default;
  ~RecordingWindow() { Destroy(); }
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;

  // Registers the class and creates the window on the window's own thread.
  bool Create();
  void Destroy();
  HWND handle() const { return window_; }

  // Every record received, as it was when it arrived (before any answer).
  std::vector<std::vector<uint8_t>> Records();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  std::thread thread_;
  HWND window_ = nullptr;
  std::mutex lock_;
  std::vector<std::vector<uint8_t>> records_;  // guarded by lock_
};

// One call of a host function.
struct HostCall {
  enum Kind { kAllocate, kDiscard, kSubmit, kRelease, kUnregister } kind;
  uint32_t hostConnectionId;
  uint32_t connectionId;
  uint32_t size;   // allocate, submit
  void* block;     // allocate's result, or the block handed back; unregister: the pump
  std::vector<uint8_t> bytes;  // submit and discard: the block's bytes at the call
};

namespace recording_host {

// Forgets the calls; allocate lends blocks again.
void Reset();
std::vector<HostCall> Calls();
std::vector<HostCall> CallsOf(HostCall::Kind kind);
// While false, allocate answers null.
void SetLending(bool lend);

void* Allocate(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size);
void Discard(uint32_t hostConnectionId, uint32_t connectionId, void* block);
void Submit(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size, void* block);
void Release(uint32_t hostConnectionId, uint32_t connectionId, void* block);
void Unregister(void* pump);

// A 48-byte command 2 table with the four functions above.
std::vector<uint8_t> Table(uint32_t hostConnectionId, uint32_t connectionId);

}  // namespace recording_host
