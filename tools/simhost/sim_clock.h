// The simulated frame clock: a frame counter advanced by the frame thread (or
// by hand), read by every thread. Simulation time is frames / frame rate, so a
// variable's motion and the periodic data requests follow the simulated frames
// rather than the wall clock. No OS calls.
#pragma once

#include <atomic>
#include <cstdint>

namespace simhost {

constexpr uint32_t kDefaultFrameRate = 30;

class SimClock {
 public:
  explicit SimClock(uint32_t frameRate = kDefaultFrameRate) : frameRate_(frameRate == 0 ? 1 : frameRate) {}

  uint32_t FrameRate() const { return frameRate_; }
  uint64_t Frame() const { return frame_.load(std::memory_order_acquire); }
  double Seconds() const { return static_cast<double>(Frame()) / frameRate_; }
  // Moves to the next frame and returns its number.
  uint64_t Advance() { return frame_.fetch_add(1, std::memory_order_acq_rel) + 1; }

 private:
  const uint32_t frameRate_;
  std::atomic<uint64_t> frame_{0};
};

}  // namespace simhost
