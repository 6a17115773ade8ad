// A server on the simulator's pipe name that takes one client at a time and
// reads and discards everything it sends (reads of 64 KiB), counting the
// bytes: the support layer's RawServer, one instance after another, on a
// thread of its own.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "support/raw_endpoints.h"

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

  std::atomic<bool> stop_{false};
  HANDLE reached_ = nullptr;  // set by the reader once `target_` bytes are in
  std::atomic<uint64_t> target_{UINT64_MAX};
  std::unique_ptr<RawServer> first_;
  std::thread thread_;
  std::atomic<uint64_t> received_{0};
};

}  // namespace bench
