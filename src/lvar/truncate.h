// Conversions of doubles from the application and the aircraft to integers,
// defined for every input.
#pragma once

#include <cmath>
#include <cstdint>

// Truncates toward zero. NaN and values outside the 32-bit signed range give
// INT32_MIN, the value the processor's own conversion yields for them, so a
// wild answer code never equals a code the handshake knows.
inline int32_t TruncateToInt32(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// An update interval in milliseconds from a request value greater than 0.0:
// truncated toward zero, capped at the largest 32-bit count.
inline uint32_t TruncateToInterval(double value) {
  if (value >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(value);
}
