// The thread that runs the simulation frames at the clock's frame rate (30 Hz
// by default): each frame advances the clock and sends what the periodic
// requests owe. When it falls behind by more than a few frames (a busy
// machine), it drops the missed frames instead of running them in a burst.
#pragma once

#include <functional>
#include <thread>

#include "win_handles.h"

namespace simhost {

class ServerCore;

class FrameClock {
 public:
  ~FrameClock() { Stop(); }
  // `afterFrame` (optional) runs on the frame thread after each frame.
  void Start(ServerCore& core, std::function<void()> afterFrame = nullptr);
  void Stop();

 private:
  void Run(ServerCore& core);

  std::function<void()> afterFrame_;
  UniqueHandle stopEvent_;
  std::thread thread_;
};

}  // namespace simhost
