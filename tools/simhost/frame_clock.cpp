// The frame thread.
#include "frame_clock.h"

#include "server_core.h"
#include "sim_clock.h"

namespace simhost {

void FrameClock::Start(ServerCore& core, std::function<void()> afterFrame) {
  afterFrame_ = std::move(afterFrame);
  stopEvent_ = MakeEvent(true);
  thread_ = std::thread([this, &core] { Run(core); });
}

void FrameClock::Stop() {
  if (!thread_.joinable()) return;
  SetEvent(stopEvent_.Get());
  thread_.join();
}

void FrameClock::Run(ServerCore& core) {
  LARGE_INTEGER frequency;
  LARGE_INTEGER now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  const double ticksPerFrame = static_cast<double>(frequency.QuadPart) / core.Clock().FrameRate();
  double next = static_cast<double>(now.QuadPart);
  for (;;) {
    next += ticksPerFrame;
    QueryPerformanceCounter(&now);
    double ahead = next - static_cast<double>(now.QuadPart);
    if (ahead < -4 * ticksPerFrame) {
      next = static_cast<double>(now.QuadPart);  // far behind: skip the missed frames
      ahead = 0;
    }
    DWORD waitMs = ahead > 0 ? static_cast<DWORD>(ahead * 1000.0 / frequency.QuadPart) : 0;
    if (WaitForSingleObject(stopEvent_.Get(), waitMs) == WAIT_OBJECT_0) return;
    core.AdvanceFrame();
    if (afterFrame_) afterFrame_();
  }
}

}  // namespace simhost
