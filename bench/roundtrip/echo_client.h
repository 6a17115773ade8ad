// Floor (a) of the round trip: a plain echo client in the bridge's place. It
// is a client of the project's SimConnect library in simhost's process, like
// the module (so on the in-process channel when simhost has its window), and
// answers each record written into its request area with one VarData-sized
// record in its reply area, with no bridge logic in between. Its thread
// waits on the notification event as the bridge's worker does.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace bench {

class EchoClient {
 public:
  EchoClient() = default;
  ~EchoClient() { Stop(); }
  EchoClient(const EchoClient&) = delete;
  EchoClient& operator=(const EchoClient&) = delete;

  // Opens the connection, waits for the open reply, creates and subscribes
  // its areas, and starts answering. False with `error` on any failure.
  bool Start(std::string* error);
  void Stop();
  uint64_t Answered() const { return answered_.load(); }

 private:
  void Run();
  // Hands out messages until the open reply has come, up to `timeoutMs`.
  bool WaitForOpenReply(DWORD timeoutMs);

  HANDLE handle_ = nullptr;
  HANDLE event_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> answered_{0};
};

}  // namespace bench
