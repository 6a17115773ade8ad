// Summaries of measured samples: median and 99th percentile of a list of
// samples, and a fixed-width histogram for streams too long to keep (the
// publishing benchmark sees millions of publications). Plain functions and
// types: no OS calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

struct Summary {
  size_t count = 0;
  double min = 0.0;
  double median = 0.0;
  double p99 = 0.0;
  double max = 0.0;
  double mean = 0.0;
};

// The value at rank ceil(p * n) of the sorted samples (nearest rank, p in
// (0, 1]); 0.0 for no samples.
double NearestRank(const std::vector<double>& sorted, double p);

// Summary of `samples` (taken by value: they are sorted here). All zero for
// no samples.
Summary Summarize(std::vector<double> samples);

// Counts of values in bins of `binWidth` starting at `low`; values below low
// or at or above low + bins * binWidth go to the underflow and overflow counts,
// which keep their own extremes. Percentiles are the upper edge of the bin that
// holds the ranked value, so they err late by at most one bin width.
class Histogram {
 public:
  Histogram(double low, double binWidth, size_t bins);

  void Add(double value);
  void Clear();

  uint64_t Count() const { return count_; }
  double Min() const { return count_ == 0 ? 0.0 : min_; }
  double Max() const { return count_ == 0 ? 0.0 : max_; }
  double Mean() const { return count_ == 0 ? 0.0 : sum_ / static_cast<double>(count_); }
  // Values at or below `limit` (counted per bin: a bin counts when its upper
  // edge is at or below the limit).
  uint64_t CountAtOrBelow(double limit) const;
  // p in (0, 1]; 0.0 when empty. The underflow ranks as Min(), the overflow as
  // Max().
  double Percentile(double p) const;

 private:
  double low_;
  double binWidth_;
  std::vector<uint64_t> bins_;
  uint64_t underflow_ = 0;
  uint64_t overflow_ = 0;
  uint64_t count_ = 0;
  double min_ = 0.0;
  double max_ = 0.0;
  double sum_ = 0.0;
};

// Least-squares slope and intercept of y over x; false for fewer than two
// distinct x.
bool FitLine(const std::vector<double>& x, const std::vector<double>& y, double* slope, double* intercept);

}  // namespace bench
