// The machine's own limits over a named pipe, measured in the same run as the
// figures they are floors of: a ping-pong between two threads of this process
// (one round trip: a request of one size, a reply of another), and the rate
// at which one thread's blocking writes of one size reach a reader thread.
// Byte-mode pipes on names of this process's own, so nothing collides with
// the simulator's pipe. The loops are ReadFile/WriteFile on bare
// handles, not the support layer's RawServer/RawClient, whose overlapped
// waits with time-outs would add wineserver calls to the figure they floor.
#pragma once

#include <windows.h>

#include <cstddef>
#include <thread>
#include <vector>

namespace bench {

class PipePingPong {
 public:
  PipePingPong() = default;
  ~PipePingPong() { Stop(); }
  PipePingPong(const PipePingPong&) = delete;
  PipePingPong& operator=(const PipePingPong&) = delete;

  // Creates the pipe and the answering thread; false when the pipe cannot be
  // made.
  bool Start(size_t requestSize, size_t replySize);
  // One round trip: write the request, read the whole reply; its duration in
  // microseconds, or a negative value when the pipe failed.
  double RoundTripUs();
  void Stop();

 private:
  HANDLE client_ = INVALID_HANDLE_VALUE;
  HANDLE server_ = INVALID_HANDLE_VALUE;
  std::thread answerer_;
  std::vector<char> request_;
  std::vector<char> reply_;
};

// Messages per second that blocking WriteFile calls of `size` bytes push
// through a pipe to a thread that reads and discards (in reads of 64 KiB):
// `count` messages, from the first write until the reader has them all.
double PipeWriteRate(size_t size, size_t count);

// The same with overlapped writes on a handle bound to the thread pool
// (BindIoCompletionCallback), each issued from the completion routine of the
// one before: the discipline of the client library's write chain. With
// `readPending`, a read stays pending on the handle meanwhile, as the library
// keeps one for what it receives.
double PipeChainedWriteRate(size_t size, size_t count, bool readPending);

}  // namespace bench
