// Aircraft for the soak, built in code: constants whose values the soak knows
// at every moment (the application and the soak itself write them), and a few
// ramps that keep the panel moving within a known range.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "aircraft_description.h"

namespace soak {

// Every ramp of a soak aircraft moves within [0, kRampTop].
constexpr double kRampTop = 1000.0;

// Aircraft number `index`: title "Soak Aircraft <index>", between 18 and 720
// variables named SOAK<index>_C<i> (constants) and SOAK<index>_R<i> (ramps).
// Names are unique across the run, so a late report is never mistaken for
// one of another aircraft.
simhost::AircraftDescription MakeAircraft(uint32_t index, std::mt19937& random);

// Whether `name` is one of the ramps.
bool IsRamp(const std::string& name);

}  // namespace soak
