// One loaded aircraft at run time: its variables by id, their names, their
// motions and the values written to them. Not thread-safe: AircraftHost
// serializes every use. No OS calls.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "aircraft_description.h"
#include "motion.h"

namespace simhost {

// Keeps every variable name ever loaded, so that a name handed out by the
// panel services stays valid after the aircraft that had it is replaced.
class NamePool {
 public:
  const char* Intern(const std::string& name) { return names_.insert(name).first->c_str(); }
  size_t Size() const { return names_.size(); }

 private:
  std::unordered_set<std::string> names_;  // node-based: element addresses never move
};

class AircraftModel {
 public:
  AircraftModel(const AircraftDescription& description, NamePool& pool);

  const std::string& Title() const { return title_; }
  size_t Count() const { return variables_.size(); }
  // Id of the variable named `name`, compared without regard to case; -1 when
  // none has it or `name` is null.
  int32_t Lookup(const char* name) const;
  // The interned name of the variable with this id; null when none has it.
  const char* Name(int32_t id) const;
  // The value at simulation time `seconds`: the written value once one was
  // written, else the motion's. 0.0 for an id that no variable has.
  double Read(int32_t id, double seconds);
  // Holds `value` from now on (the motion stops). Ignored for unknown ids.
  void Write(int32_t id, double value);

 private:
  struct Variable {
    const char* name;
    Motion motion;
    WalkState walk;
    bool held = false;
    double heldValue = 0.0;
  };
  bool Valid(int32_t id) const { return id >= 0 && static_cast<size_t>(id) < variables_.size(); }

  std::string title_;
  std::vector<Variable> variables_;
  std::unordered_map<std::string, int32_t> idByLowerName_;
};

}  // namespace simhost
