#include "lateness.h"

namespace bench {

LatenessTracker::LatenessTracker(uint32_t variables, double intervalMs)
    : intervalMs_(intervalMs), lastRead_(variables, -1.0) {}

void LatenessTracker::Add(uint32_t id, double readMs, double arrivedMs) {
  std::lock_guard<std::mutex> guard(lock_);
  if (id >= lastRead_.size()) return;
  double previous = lastRead_[id];
  lastRead_[id] = readMs;
  if (!open_ || arrivedMs < from_ || previous < 0.0) return;
  const double due = previous + intervalMs_;
  ++result_.published;
  result_.publication.Add(arrivedMs - due);
  result_.read.Add(readMs - due);
  result_.transit.Add(arrivedMs - readMs);
}

void LatenessTracker::OpenWindow(double fromMs) {
  std::lock_guard<std::mutex> guard(lock_);
  open_ = true;
  from_ = fromMs;
}

void LatenessTracker::CloseWindow(double toMs) {
  std::lock_guard<std::mutex> guard(lock_);
  open_ = false;
  result_.windowMs = toMs - from_;
}

LatenessTracker::Result LatenessTracker::Results() {
  std::lock_guard<std::mutex> guard(lock_);
  return result_;
}

}  // namespace bench
