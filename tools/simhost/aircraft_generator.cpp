// Generated aircraft of any size.
#include "aircraft_generator.h"

#include <cstdio>
#include <string>

#include "lvar/variable_names.h"

namespace simhost {

namespace {

const char* const kGroups[] = {"ENG", "ELEC", "HYD", "FUEL", "AIR", "NAV", "FCU", "LIGHT"};

}  // namespace

AircraftDescription GenerateAircraft(size_t count, uint64_t seed, bool withMjc) {
  AircraftDescription description;
  size_t room = withMjc ? kMaxVariables - 4 : kMaxVariables;
  if (count > room) count = room;
  description.title = "Generated Aircraft " + std::to_string(count);
  description.seed = seed;
  description.variables.reserve(count + 4);
  for (size_t i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "GEN_%s_%05u", kGroups[(i / 5) % 8], static_cast<unsigned>(i));
    Motion m;
    double scale = 1.0 + static_cast<double>((i * 7919 + seed) % 100);
    double period = 2.0 + static_cast<double>((i * 31 + seed) % 29);
    switch (i % 5) {
      case 0:
        m.value = scale;
        break;
      case 1:
        m.kind = MotionKind::kSine;
        m.center = scale;
        m.amplitude = scale / 2.0;
        m.period = period;
        m.phase = static_cast<double>((i * 37) % 360);
        break;
      case 2:
        m.kind = MotionKind::kRamp;
        m.from = 0.0;
        m.to = scale;
        m.period = period;
        break;
      case 3:
        m.kind = MotionKind::kToggle;
        m.a = 0.0;
        m.b = 1.0;
        m.period = period / 2.0;
        break;
      default:
        m.kind = MotionKind::kWalk;
        m.value = scale / 2.0;
        m.step = scale / 20.0;
        m.low = 0.0;
        m.high = scale;
        m.interval = 0.5;
        break;
    }
    description.variables.push_back(VariableDescription{name, m});
  }
  if (withMjc) {
    description.mjc.enabled = true;
    for (const char* name : {variable_names::kMjcReadCode, variable_names::kMjcReadValue, variable_names::kMjcWriteCode, variable_names::kMjcWriteValue}) {
      description.variables.push_back(VariableDescription{name, Motion()});
    }
    for (uint32_t code = 1; code <= 100; ++code) {
      MjcCodeEntry entry;
      entry.code = code;
      entry.answer = MjcAnswer::kValue;
      entry.value = code * 10.0;
      description.mjc.codes.push_back(entry);
    }
  }
  return description;
}

}  // namespace simhost
