// Evaluating a variable's motion at a simulation time. No OS calls.
#pragma once

#include <cstdint>

#include "aircraft_description.h"

namespace simhost {

// State of a random walk: where it stands after `stepsTaken` steps.
struct WalkState {
  uint64_t rng = 0;
  int64_t stepsTaken = 0;
  double value = 0.0;
};

// Starts a walk at its motion's start value, with a generator seeded from the
// aircraft's seed and the variable's id (the same aircraft walks the same way).
WalkState StartWalk(const Motion& motion, uint64_t seed, uint32_t id);

// The value of a constant, sine, ramp or toggle motion at `seconds`.
double EvaluateMotion(const Motion& motion, double seconds);

// Advances a walk to `seconds` and returns its value. A walk only moves
// forward; when far behind it takes at most kMaxCatchUpSteps steps at once.
double AdvanceWalk(const Motion& motion, WalkState& walk, double seconds);
constexpr int64_t kMaxCatchUpSteps = 10000;

}  // namespace simhost
