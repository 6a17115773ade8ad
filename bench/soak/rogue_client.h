// A rogue client of the simulator's pipe: it writes malformed frames, dies in
// the middle of a message, or opens properly and writes host requests that no
// application would (unknown and unterminated names, commands without a
// meaning, NaN and infinite values) into the bridge's request area.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace soak {

// One act of the rogue on the pipe at `pipePath`; returns what it did, for the
// event line. Requests that would change what the soak's applications are
// checking (set, stop, rebuild, keys) are never written.
std::string RunRogue(std::mt19937& random, const std::wstring& pipePath);

}  // namespace soak
