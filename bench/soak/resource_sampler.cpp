#include "resource_sampler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "process_usage.h"

namespace soak {

namespace {

// The mean of the points' x and of their y.
std::pair<double, double> Mean(const std::vector<std::pair<double, double>>& points) {
  double x = 0.0, y = 0.0;
  for (const auto& point : points) {
    x += point.first;
    y += point.second;
  }
  return {x / points.size(), y / points.size()};
}

// Least squares through groups of points, each group about its own mean (one
// group: an ordinary line).
Slope PooledSlope(const std::map<uint32_t, std::vector<std::pair<double, double>>>& groups) {
  Slope slope;
  double sxx = 0.0, sxy = 0.0;
  for (const auto& group : groups) {
    const auto [meanX, meanY] = Mean(group.second);
    for (const auto& point : group.second) {
      sxx += (point.first - meanX) * (point.first - meanX);
      sxy += (point.first - meanX) * (point.second - meanY);
    }
    slope.points += group.second.size();
  }
  const double freedom = static_cast<double>(slope.points) - static_cast<double>(groups.size()) - 1.0;
  if (sxx <= 0.0 || freedom < 1.0) {
    slope.points = 0;
    return slope;
  }
  slope.perMinute = sxy / sxx;
  double squaredResiduals = 0.0;
  for (const auto& group : groups) {
    const auto [meanX, meanY] = Mean(group.second);
    for (const auto& point : group.second) {
      const double residual = point.second - meanY - slope.perMinute * (point.first - meanX);
      squaredResiduals += residual * residual;
    }
  }
  slope.error = std::sqrt(squaredResiduals / freedom / sxx);
  return slope;
}

}  // namespace

void ResourceSampler::TakeSample() {
  const DWORD now = GetTickCount();
  const bench::MemorySample memory = bench::SampleMemory();
  std::lock_guard<std::mutex> guard(lock_);
  samples_.push_back(
      {now, cycle_, cycleTick_, static_cast<double>(memory.privateBytes), static_cast<double>(memory.handles)});
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

void ResourceSampler::SetCycle(uint32_t cycle) {
  std::lock_guard<std::mutex> guard(lock_);
  cycle_ = cycle;
  cycleTick_ = GetTickCount();
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

Curve ResourceSampler::PrivateBytes(DWORD warmUpMs, DWORD cycleWarmUpMs) const {
  return Fit(warmUpMs, cycleWarmUpMs, &Sample::privateBytes);
}

Curve ResourceSampler::Handles(DWORD warmUpMs, DWORD cycleWarmUpMs) const {
  return Fit(warmUpMs, cycleWarmUpMs, &Sample::handles);
}

Curve ResourceSampler::Fit(DWORD warmUpMs, DWORD cycleWarmUpMs, double Sample::*field) const {
  std::lock_guard<std::mutex> guard(lock_);
  Curve curve;
  std::map<uint32_t, std::vector<std::pair<double, double>>> cycles;
  bool first = true;
  for (const Sample& sample : samples_) {
    if (sample.cycle == 0 || sample.tick - samples_.front().tick < warmUpMs ||
        sample.tick - sample.cycleTick < cycleWarmUpMs) {
      continue;
    }
    const double y = sample.*field;
    if (first) curve.start = curve.low = curve.high = y;
    first = false;
    curve.end = y;
    curve.low = std::min(curve.low, y);
    curve.high = std::max(curve.high, y);
    cycles[sample.cycle].push_back({(sample.tick - samples_.front().tick) / 60000.0, y});
  }
  curve.withinCycles = PooledSlope(cycles);
  std::map<uint32_t, std::vector<std::pair<double, double>>> medians;
  for (auto& cycle : cycles) {
    std::vector<std::pair<double, double>> points = cycle.second;
    std::sort(points.begin(), points.end(), [](const std::pair<double, double>& a, const std::pair<double, double>& b) {
      return a.second < b.second;
    });
    const double median = points[points.size() / 2].second;
    curve.cycleMedians.push_back(median);
    medians[0].push_back({cycle.second[cycle.second.size() / 2].first, median});
  }
  curve.acrossCycles = PooledSlope(medians);
  return curve;
}

std::string Mebibytes(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MiB", bytes / (1024.0 * 1024.0));
  return text;
}

}  // namespace soak
