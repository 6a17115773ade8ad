// Variables of the loaded aircraft.
#include "aircraft_model.h"

#include <cctype>

namespace simhost {

namespace {

std::string Lower(const char* text) {
  std::string lower;
  for (; *text != '\0'; ++text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(*text)));
  return lower;
}

}  // namespace

AircraftModel::AircraftModel(const AircraftDescription& description, NamePool& pool) : title_(description.title) {
  variables_.reserve(description.variables.size());
  idByLowerName_.reserve(description.variables.size());
  for (const VariableDescription& v : description.variables) {
    int32_t id = static_cast<int32_t>(variables_.size());
    Variable variable;
    variable.name = pool.Intern(v.name);
    variable.motion = v.motion;
    if (v.motion.kind == MotionKind::kWalk) variable.walk = StartWalk(v.motion, description.seed, static_cast<uint32_t>(id));
    variables_.push_back(variable);
    idByLowerName_.emplace(Lower(v.name.c_str()), id);  // the first of equal names keeps its id
  }
}

int32_t AircraftModel::Lookup(const char* name) const {
  if (name == nullptr) return -1;
  auto found = idByLowerName_.find(Lower(name));
  return found == idByLowerName_.end() ? -1 : found->second;
}

const char* AircraftModel::Name(int32_t id) const { return Valid(id) ? variables_[id].name : nullptr; }

double AircraftModel::Read(int32_t id, double seconds) {
  if (!Valid(id)) return 0.0;
  Variable& v = variables_[id];
  if (v.held) return v.heldValue;
  if (v.motion.kind == MotionKind::kWalk) return AdvanceWalk(v.motion, v.walk, seconds);
  return EvaluateMotion(v.motion, seconds);
}

void AircraftModel::Write(int32_t id, double value) {
  if (!Valid(id)) return;
  variables_[id].held = true;
  variables_[id].heldValue = value;
}


}  // namespace simhost
