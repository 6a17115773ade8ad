// Motions of the aircraft's variables on the simulation clock.
#include "motion.h"

#include <algorithm>
#include <cmath>

namespace simhost {

namespace {

constexpr double kPi = 3.14159265358979323846;

// xorshift64*: small, fast and good enough to make values wander.
uint64_t NextRandom(uint64_t& state) {
  state ^= state >> 12;
  state ^= state << 25;
  state ^= state >> 27;
  return state * 0x2545F4914F6CDD1DULL;
}

// A number in [-1, 1).
double RandomSigned(uint64_t& state) {
  return static_cast<double>(NextRandom(state) >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

}  // namespace

WalkState StartWalk(const Motion& motion, uint64_t seed, uint32_t id) {
  WalkState walk;
  // splitmix64 of seed and id; never 0, which xorshift cannot leave.
  uint64_t z = seed + 0x9E3779B97F4A7C15ULL * (static_cast<uint64_t>(id) + 1);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  walk.rng = z == 0 ? 1 : z;
  walk.value = std::min(std::max(motion.value, motion.low), motion.high);
  return walk;
}

double EvaluateMotion(const Motion& motion, double seconds) {
  switch (motion.kind) {
    case MotionKind::kSine:
      return motion.center +
             motion.amplitude * std::sin(2.0 * kPi * seconds / motion.period + motion.phase * kPi / 180.0);
    case MotionKind::kRamp: {
      double cycles = seconds / motion.period;
      return motion.from + (motion.to - motion.from) * (cycles - std::floor(cycles));
    }
    case MotionKind::kToggle:
      return std::fmod(std::floor(seconds / motion.period), 2.0) == 0.0 ? motion.a : motion.b;
    case MotionKind::kWalk:  // needs its state: see AdvanceWalk
    case MotionKind::kConstant:
    default:
      return motion.value;
  }
}

double AdvanceWalk(const Motion& motion, WalkState& walk, double seconds) {
  int64_t due = static_cast<int64_t>(std::floor(seconds / motion.interval));
  if (due <= walk.stepsTaken) return walk.value;
  int64_t steps = std::min(due - walk.stepsTaken, kMaxCatchUpSteps);
  for (int64_t i = 0; i < steps; ++i) {
    walk.value = std::min(std::max(walk.value + motion.step * RandomSigned(walk.rng), motion.low), motion.high);
  }
  walk.stepsTaken = due;
  return walk.value;
}

}  // namespace simhost
