// Lateness of publications of variables whose values are their read times
// (BenchPanels with Values::kReadTime). A variable monitored at interval I is
// due for its next read I after its previous read; for each publication after
// a variable's first, the tracker records
//   publication lateness = arrival - (previous read + I)
//   read lateness        = read - (previous read + I)     (the worker's schedule alone)
//   transit              = arrival - read                  (read to publication)
// for publications that arrive inside the measuring window. Add is called on
// the thread that sees the publications; the window and the results are
// read and set from others. No OS calls.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "stats.h"

namespace bench {

class LatenessTracker {
 public:
  LatenessTracker(uint32_t variables, double intervalMs);

  void Add(uint32_t id, double readMs, double arrivedMs);
  // Publications arriving from `fromMs` on are counted until CloseWindow.
  void OpenWindow(double fromMs);
  void CloseWindow(double toMs);

  struct Result {
    uint64_t published = 0;  // in the window
    double windowMs = 0.0;
    Histogram publication{-20.0, 0.02, 250000};  // ms, up to 5 s
    Histogram read{-20.0, 0.02, 250000};
    Histogram transit{0.0, 0.02, 250000};
  };
  // A copy of the results so far.
  Result Results();

 private:
  std::mutex lock_;
  const double intervalMs_;
  std::vector<double> lastRead_;  // guarded by lock_; negative: none yet
  bool open_ = false;             // guarded by lock_
  double from_ = 0.0;             // guarded by lock_
  Result result_;                 // guarded by lock_
};

}  // namespace bench
