#include "stats.h"

#include <algorithm>
#include <cmath>

namespace bench {

double NearestRank(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0.0;
  double rank = std::ceil(p * static_cast<double>(sorted.size()));
  size_t index = rank < 1.0 ? 0 : static_cast<size_t>(rank) - 1;
  if (index >= sorted.size()) index = sorted.size() - 1;
  return sorted[index];
}

Summary Summarize(std::vector<double> samples) {
  Summary summary;
  if (samples.empty()) return summary;
  std::sort(samples.begin(), samples.end());
  summary.count = samples.size();
  summary.min = samples.front();
  summary.max = samples.back();
  summary.median = NearestRank(samples, 0.5);
  summary.p99 = NearestRank(samples, 0.99);
  double sum = 0.0;
  for (double v : samples) sum += v;
  summary.mean = sum / static_cast<double>(samples.size());
  return summary;
}

Histogram::Histogram(double low, double binWidth, size_t bins) : low_(low), binWidth_(binWidth), bins_(bins, 0) {}

void Histogram::Add(double value) {
  if (count_ == 0 || value < min_) min_ = value;
  if (count_ == 0 || value > max_) max_ = value;
  ++count_;
  sum_ += value;
  double position = (value - low_) / binWidth_;
  if (position < 0.0) {
    ++underflow_;
  } else if (position >= static_cast<double>(bins_.size())) {
    ++overflow_;
  } else {
    ++bins_[static_cast<size_t>(position)];
  }
}

void Histogram::Clear() {
  std::fill(bins_.begin(), bins_.end(), 0);
  underflow_ = overflow_ = count_ = 0;
  min_ = max_ = sum_ = 0.0;
}

uint64_t Histogram::CountAtOrBelow(double limit) const {
  uint64_t n = limit >= low_ ? underflow_ : 0;
  for (size_t i = 0; i < bins_.size(); ++i) {
    if (low_ + static_cast<double>(i + 1) * binWidth_ > limit) break;
    n += bins_[i];
  }
  if (overflow_ > 0 && max_ <= limit) n += overflow_;
  return n;
}

double Histogram::Percentile(double p) const {
  if (count_ == 0) return 0.0;
  double rank = std::ceil(p * static_cast<double>(count_));
  uint64_t wanted = rank < 1.0 ? 1 : static_cast<uint64_t>(rank);
  if (wanted > count_) wanted = count_;
  uint64_t seen = underflow_;
  if (seen >= wanted) return min_;
  for (size_t i = 0; i < bins_.size(); ++i) {
    seen += bins_[i];
    if (seen >= wanted) return std::min(low_ + static_cast<double>(i + 1) * binWidth_, max_);
  }
  return max_;
}

bool FitLine(const std::vector<double>& x, const std::vector<double>& y, double* slope, double* intercept) {
  size_t n = std::min(x.size(), y.size());
  if (n < 2) return false;
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (size_t i = 0; i < n; ++i) {
    sx += x[i];
    sy += y[i];
    sxx += x[i] * x[i];
    sxy += x[i] * y[i];
  }
  double denominator = static_cast<double>(n) * sxx - sx * sx;
  if (denominator == 0.0) return false;
  *slope = (static_cast<double>(n) * sxy - sx * sy) / denominator;
  *intercept = (sy - *slope * sx) / static_cast<double>(n);
  return true;
}

}  // namespace bench
