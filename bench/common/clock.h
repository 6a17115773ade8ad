// The benchmarks' clock: the performance counter, which every thread and
// process of the machine reads alike (under Wine a 10 MHz monotonic count).
#pragma once

#include <windows.h>

#include <cstdint>

namespace bench {

// Microseconds since an arbitrary origin, the same for every caller.
inline double NowUs() {
  static const double kTicksPerUs = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1e6;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / kTicksPerUs;
}

inline double NowMs() { return NowUs() / 1000.0; }

// How GetTickCount, the bridge's clock, moves: watched for about `sampleMs`,
// the average and the largest step between two values it took, in
// milliseconds of the performance counter. A schedule kept in ticks can be
// late by up to one step.
struct TickSteps {
  double average = 0.0;
  double largest = 0.0;
};
inline TickSteps MeasureTickSteps(double sampleMs = 300.0) {
  TickSteps steps;
  DWORD last = GetTickCount();
  double lastChange = -1.0, firstChange = -1.0;
  int changes = 0;
  const double end = NowMs() + sampleMs;
  for (double now = NowMs(); now < end; now = NowMs()) {
    DWORD tick = GetTickCount();
    if (tick == last) continue;
    last = tick;
    if (lastChange >= 0.0 && now - lastChange > steps.largest) steps.largest = now - lastChange;
    if (firstChange < 0.0) firstChange = now;
    lastChange = now;
    ++changes;
  }
  if (changes > 1) steps.average = (lastChange - firstChange) / (changes - 1);
  return steps;
}

// Sleeps about `ms` milliseconds in steps, so that a long pause can be left
// early when `stop` returns true.
template <typename Stop>
void SleepUnless(DWORD ms, Stop stop) {
  const double end = NowMs() + ms;
  while (!stop()) {
    double left = end - NowMs();
    if (left <= 0) return;
    Sleep(left > 50 ? 50 : static_cast<DWORD>(left) + 1);
  }
}

}  // namespace bench
