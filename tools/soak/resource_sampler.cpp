#include "resource_sampler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "process_usage.h"

namespace soak {

void ResourceSampler::TakeSample() {
  const DWORD now = GetTickCount();
  const bench::MemorySample memory = bench::SampleMemory();
  std::lock_guard<std::mutex> guard(lock_);
  samples_.push_back({now, static_cast<double>(memory.privateBytes), static_cast<double>(memory.handles)});
}

void ResourceSampler::Start(DWORD periodMs) {
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = std::thread([this, periodMs] {
    do {
      TakeSample();
    } while (WaitForSingleObject(stop_, periodMs) == WAIT_TIMEOUT);
  });
}

void ResourceSampler::Stop() {
  if (!thread_.joinable()) return;
  SetEvent(stop_);
  thread_.join();
  CloseHandle(stop_);
  stop_ = nullptr;
}

std::string ResourceSampler::Summary(size_t points) const {
  std::lock_guard<std::mutex> guard(lock_);
  std::string text;
  if (samples_.empty() || points < 2) return text;
  for (size_t p = 0; p < points; ++p) {
    const Sample& sample = samples_[p * (samples_.size() - 1) / (points - 1)];
    char item[64];
    std::snprintf(item, sizeof item, "%s%lus %.1f MiB/%.0f", p == 0 ? "" : ", ",
                  static_cast<unsigned long>((sample.tick - samples_.front().tick) / 1000),
                  sample.privateBytes / (1024.0 * 1024.0), sample.handles);
    text += item;
  }
  return text;
}

Curve ResourceSampler::PrivateBytes(DWORD warmUpMs) const { return Fit(warmUpMs, &Sample::privateBytes); }

Curve ResourceSampler::Handles(DWORD warmUpMs) const { return Fit(warmUpMs, &Sample::handles); }

Curve ResourceSampler::Fit(DWORD warmUpMs, double Sample::*field) const {
  std::lock_guard<std::mutex> guard(lock_);
  Curve curve;
  if (samples_.empty()) return curve;
  std::vector<const Sample*> used;
  for (const Sample& sample : samples_) {
    if (sample.tick - samples_.front().tick >= warmUpMs) used.push_back(&sample);
  }
  if (used.empty()) return curve;
  curve.samples = used.size();
  curve.start = used.front()->*field;
  curve.end = used.back()->*field;
  curve.low = curve.high = curve.start;
  // Least squares over (minutes since the first used sample, value).
  double sumX = 0.0, sumY = 0.0, sumXX = 0.0, sumXY = 0.0;
  for (const Sample* sample : used) {
    const double x = (sample->tick - used.front()->tick) / 60000.0;
    const double y = sample->*field;
    curve.low = std::min(curve.low, y);
    curve.high = std::max(curve.high, y);
    sumX += x;
    sumY += y;
    sumXX += x * x;
    sumXY += x * y;
  }
  const double n = static_cast<double>(used.size());
  const double denominator = n * sumXX - sumX * sumX;
  if (used.size() < 3 || denominator <= 0.0) return curve;
  curve.slopePerMinute = (n * sumXY - sumX * sumY) / denominator;
  const double intercept = (sumY - curve.slopePerMinute * sumX) / n;
  double squaredResiduals = 0.0;
  for (const Sample* sample : used) {
    const double x = (sample->tick - used.front()->tick) / 60000.0;
    const double residual = sample->*field - (intercept + curve.slopePerMinute * x);
    squaredResiduals += residual * residual;
  }
  const double sxx = sumXX - sumX * sumX / n;
  curve.slopeError = std::sqrt(squaredResiduals / (n - 2) / sxx);
  return curve;
}

std::string Mebibytes(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MiB", bytes / (1024.0 * 1024.0));
  return text;
}

}  // namespace soak
