// What an aircraft is made of, as read from an aircraft file or generated: a
// title, its panel variables in id order with a motion each, and optionally
// the MJC handshake with its code table. Plain data: no OS calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simhost {

enum class MotionKind { kConstant, kSine, kRamp, kToggle, kWalk };

// How a variable's value moves with simulation time t (seconds):
//   constant  value
//   sine      center + amplitude * sin(2 pi t / period + phase in radians)
//   ramp      from + (to - from) * frac(t / period)       (a sawtooth)
//   toggle    a while floor(t / period) is even, else b
//   walk      starts at value; every `interval` seconds moves by a random
//             amount in [-step, +step], kept within [low, high]
struct Motion {
  MotionKind kind = MotionKind::kConstant;
  double value = 0.0;      // constant; walk: start
  double center = 0.0;     // sine
  double amplitude = 0.0;  // sine
  double phase = 0.0;      // sine, degrees
  double from = 0.0;       // ramp
  double to = 0.0;         // ramp
  double a = 0.0;          // toggle
  double b = 0.0;          // toggle
  double step = 0.0;       // walk
  double low = 0.0;        // walk
  double high = 0.0;       // walk
  double period = 1.0;     // sine, ramp, toggle: seconds, > 0
  double interval = 1.0;   // walk: seconds, > 0
};

// Each motion with its own numbers.
inline Motion Constant(double value) { return Motion{MotionKind::kConstant, value}; }
inline Motion Sine(double center, double amplitude, double periodS, double phaseDegrees = 0.0) {
  Motion m{MotionKind::kSine};
  m.center = center, m.amplitude = amplitude, m.period = periodS, m.phase = phaseDegrees;
  return m;
}
inline Motion Ramp(double from, double to, double periodS) {
  Motion m{MotionKind::kRamp};
  m.from = from, m.to = to, m.period = periodS;
  return m;
}
inline Motion Toggle(double a, double b, double periodS) {
  Motion m{MotionKind::kToggle};
  m.a = a, m.b = b, m.period = periodS;
  return m;
}
inline Motion Walk(double start, double step, double low, double high, double intervalS = 1.0) {
  Motion m{MotionKind::kWalk, start};
  m.step = step, m.low = low, m.high = high, m.interval = intervalS;
  return m;
}

struct VariableDescription {
  std::string name;
  Motion motion;
};

// What the aircraft side answers for one MJC code.
enum class MjcAnswer {
  kVariable,  // reads and writes the aircraft variable `variable`
  kValue,     // reads and writes a value kept by the handshake itself
  kNotFound,  // answers "data not found"
  kSilent,    // never answers
};

struct MjcCodeEntry {
  uint32_t code = 0;
  MjcAnswer answer = MjcAnswer::kValue;
  std::string variable;  // kVariable
  double value = 0.0;    // kValue: the initial value
};

struct MjcSettings {
  bool enabled = false;
  bool readOnly = false;  // only MJC_VAR_READ_CODE and MJC_VAR_READ_VALUE exist
  uint32_t delayMs = 0;   // time between a code's write and its answer
  MjcAnswer unknownAnswer = MjcAnswer::kNotFound;  // for codes not in the table
  std::vector<MjcCodeEntry> codes;
};

// Answer codes written into READ_CODE and WRITE_CODE.
constexpr uint32_t kMjcDone = 9991999;
constexpr uint32_t kMjcNotFound = 9992999;

// Ids are positions in `variables`: 0, 1, 2, ... The handshake variables, when
// enabled, are ordinary entries of `variables` (constant 0).
struct AircraftDescription {
  std::string title;
  std::vector<VariableDescription> variables;
  MjcSettings mjc;
  uint64_t seed = 1;  // seeds the random walks
};

// The most variables an aircraft may have (ids 0 to 65534 are enumerated by
// the add-on).
constexpr size_t kMaxVariables = 65535;

}  // namespace simhost
