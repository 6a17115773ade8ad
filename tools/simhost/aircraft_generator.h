// Large aircraft for benchmarks and load tests: `count` variables with names,
// motions and values spread over every kind of motion, the same for the same
// seed. No OS calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aircraft_description.h"

namespace simhost {

// Variables named GEN_<GROUP>_<number> (number from 00000): a fifth each of
// constants, sines, ramps, toggles and random walks, in rotation. With
// `withMjc` the handshake variables follow them and codes 1 to 100 answer with
// values of their own. At most kMaxVariables variables in all.
AircraftDescription GenerateAircraft(size_t count, uint64_t seed, bool withMjc);

}  // namespace simhost
