// The thread that runs the simulation frames at the clock's frame rate (30 Hz
// by default): each frame advances the clock and sends what the periodic
// requests owe. When it falls behind by more than a few frames (a busy
// machine), it drops the missed frames instead of running them in a burst.
#pragma once

#include <thread>

#include "win_handles.h"

namespace simhost {

class ServerCore;

class FrameClock {
 public:
  ~FrameClock() { Stop(); }
  void Start(ServerCore& core);
  void Stop();

 private:
  void Run(ServerCore& core);

  UniqueHandle stopEvent_;
  std::thread thread_;
};

}  // namespace simhost
