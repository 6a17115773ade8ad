// Private bytes and handles of the soak's process (which hosts the module),
// sampled once a second on a thread of its own. Whether they stay flat is
// judged by least-squares slopes over the run, not by any single sample:
// within cycles (one slope through every cycle's samples, each cycle about its
// own mean, so that restarts and the two kinds of cycle do not count as
// growth) and across cycles (through each cycle's median).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace soak {

struct Slope {
  double perMinute = 0.0;
  double error = 0.0;  // standard error
  size_t points = 0;
  // Rising faster than `limit` a minute, and by more than three standard errors.
  bool Rises(double limit) const { return perMinute > limit && perMinute > 3 * error; }
};

struct Curve {
  double start = 0.0;  // first sample used
  double end = 0.0;    // last sample used
  double low = 0.0;
  double high = 0.0;
  Slope withinCycles;
  Slope acrossCycles;
  std::vector<double> cycleMedians;
};

class ResourceSampler {
 public:
  ~ResourceSampler() { Stop(); }
  void Start(DWORD periodMs);
  void Stop();
  // Samples from now on belong to `cycle` (1, 2, ...); 0 while a cycle ends
  // and the next begins (such samples are not judged).
  void SetCycle(uint32_t cycle);
  // Curves of the samples taken `warmUpMs` after the start and
  // `cycleWarmUpMs` after their cycle's start.
  Curve PrivateBytes(DWORD warmUpMs, DWORD cycleWarmUpMs) const;
  Curve Handles(DWORD warmUpMs, DWORD cycleWarmUpMs) const;
  // "0s 40.1 MiB/75, 6s ...": `points` samples spread over the run.
  std::string Summary(size_t points) const;

 private:
  struct Sample {
    DWORD tick;
    uint32_t cycle;
    DWORD cycleTick;  // when the cycle began
    double privateBytes;
    double handles;
  };
  Curve Fit(DWORD warmUpMs, DWORD cycleWarmUpMs, double Sample::*field) const;
  void TakeSample();

  mutable std::mutex lock_;
  std::vector<Sample> samples_;  // guarded by lock_
  uint32_t cycle_ = 0;           // guarded by lock_
  DWORD cycleTick_ = 0;          // guarded by lock_
  std::thread thread_;
  HANDLE stop_ = nullptr;
};

// "12.34 MiB".
std::string Mebibytes(double bytes);

}  // namespace soak
