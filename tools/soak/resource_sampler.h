// Private bytes and handles of the soak's process (which hosts the module),
// sampled over the run. Whether they stay flat is judged by the slope of a
// least-squares line through the samples after a warm-up, not by any single
// sample.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace soak {

struct Curve {
  double start = 0.0;   // first sample after the warm-up
  double end = 0.0;     // last sample
  double low = 0.0;
  double high = 0.0;
  double slopePerMinute = 0.0;
  double slopeError = 0.0;  // the slope's standard error
  size_t samples = 0;
};

class ResourceSampler {
 public:
  ~ResourceSampler() { Stop(); }
  // Samples now and then every `periodMs` on a thread of its own, until Stop.
  void Start(DWORD periodMs);
  void Stop();
  // The curves of the samples taken `warmUpMs` or more after the first.
  Curve PrivateBytes(DWORD warmUpMs) const;
  Curve Handles(DWORD warmUpMs) const;
  // "t=0s 40.1 MiB/75, t=30s ..." : `points` samples spread over the run.
  std::string Summary(size_t points) const;

 private:
  struct Sample {
    DWORD tick;
    double privateBytes;
    double handles;
  };
  Curve Fit(DWORD warmUpMs, double Sample::*field) const;
  void TakeSample();

  mutable std::mutex lock_;
  std::vector<Sample> samples_;  // guarded by lock_
  std::thread thread_;
  HANDLE stop_ = nullptr;
};

// "12.3 MiB" and the like.
std::string Mebibytes(double bytes);

}  // namespace soak
