// A server on the simulator's pipe name that takes one client at a time and
// reads and discards everything it sends (reads of 64 KiB), counting the
// bytes. Its pipe instances are made like simhost's: byte mode, duplex,
// 64 KiB buffers.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace bench {

class DrainingServer {
 public:
  DrainingServer() = default;
  ~DrainingServer() { Stop(); }
  DrainingServer(const DrainingServer&) = delete;
  DrainingServer& operator=(const DrainingServer&) = delete;

  // False when the name is taken (another server runs).
  bool Start();
  void Stop();
  // Bytes read since the start.
  uint64_t Received() const { return received_.load(std::memory_order_acquire); }
  // Waits until Received() reaches `bytes`; false after `timeoutMs`. The
  // wait sleeps (the reading thread wakes it), so it takes no processor time
  // from the writers being measured. One waiter at a time.
  bool WaitForBytes(uint64_t bytes, DWORD timeoutMs);

 private:
  void Run();
  // Serves one client on `pipe` until it leaves or Stop; false on Stop.
  bool Serve(HANDLE pipe);

  HANDLE stop_ = nullptr;
  HANDLE reached_ = nullptr;  // set by the reader once `target_` bytes are in
  std::atomic<uint64_t> target_{UINT64_MAX};
  HANDLE firstInstance_ = INVALID_HANDLE_VALUE;
  std::thread thread_;
  std::atomic<uint64_t> received_{0};
};

// The simulator's pipe, as the client library's default chain opens it.
extern const wchar_t kSimulatorPipePath[];

}  // namespace bench
