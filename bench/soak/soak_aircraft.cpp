#include "soak_aircraft.h"

namespace soak {

simhost::AircraftDescription MakeAircraft(uint32_t index, std::mt19937& random) {
  simhost::AircraftDescription aircraft;
  aircraft.title = "Soak Aircraft " + std::to_string(index);
  const std::string prefix = "SOAK" + std::to_string(index);
  // Now and then an aircraft whose list takes more than one VarDump chunk.
  const bool large = std::uniform_int_distribution<int>(0, 3)(random) == 0;
  const uint32_t constants = std::uniform_int_distribution<uint32_t>(large ? 300 : 16, large ? 700 : 180)(random);
  const uint32_t ramps = std::uniform_int_distribution<uint32_t>(2, 20)(random);
  for (uint32_t i = 0; i < constants; ++i) {
    simhost::VariableDescription variable;
    variable.name = prefix + "_C" + std::to_string(i);
    // Quarters are exact in a double, and values of one aircraft differ by more
    // than the bridge's change threshold.
    variable.motion.value = index * 1000.0 + i + 0.25;
    aircraft.variables.push_back(variable);
  }
  for (uint32_t i = 0; i < ramps; ++i) {
    simhost::VariableDescription variable;
    variable.name = prefix + "_R" + std::to_string(i);
    variable.motion.kind = simhost::MotionKind::kRamp;
    variable.motion.from = 0.0;
    variable.motion.to = kRampTop;
    variable.motion.period = 2.0 + i;
    aircraft.variables.push_back(variable);
  }
  return aircraft;
}

bool IsRamp(const std::string& name) {
  size_t underscore = name.rfind('_');
  return underscore != std::string::npos && underscore + 1 < name.size() && name[underscore + 1] == 'R';
}

}  // namespace soak
