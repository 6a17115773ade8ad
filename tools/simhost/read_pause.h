// A stalled simulator frame, as SimHost::PauseReads sets it. Until it ends,
// pipe and socket connections read and write nothing, and the in-process
// channel neither handles what its clients submit nor delivers to them; what
// came meanwhile is handled, in order, once it ends. One for the whole host;
// any thread. No locks.
#pragma once

#include <windows.h>

#include <atomic>

namespace simhost {

class ReadPause {
 public:
  // The pause lasts until `ms` from now (replacing one under way).
  void Begin(DWORD ms) { end_.store(GetTickCount() + ms, std::memory_order_release); }
  // Milliseconds until the pause ends; 0 when none is under way.
  DWORD Remaining() const {
    const auto left = static_cast<LONG>(end_.load(std::memory_order_acquire) - GetTickCount());
    return left > 0 ? static_cast<DWORD>(left) : 0;
  }
  bool Active() const { return Remaining() > 0; }

 private:
  std::atomic<DWORD> end_{GetTickCount()};
};

}  // namespace simhost
