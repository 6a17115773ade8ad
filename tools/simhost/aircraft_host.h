// The user aircraft as the simulator holds it: the loaded AircraftModel, its
// MJC responder and the clocks they run on, behind one lock. The panel
// services, the sessions (aircraft title) and the console all go through here,
// from any thread. No OS calls.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "simconnect/slim_lock.h"

#include "aircraft_model.h"
#include "aircraft_description.h"
#include "mjc_responder.h"
#include "sim_clock.h"

namespace simhost {

// Milliseconds of a monotonic wall clock; the MJC answer delay runs on it, as
// the add-on's handshake time-out runs on real time.
using WallClockMs = uint64_t (*)();
uint64_t SteadyMilliseconds();

class AircraftHost {
 public:
  explicit AircraftHost(const SimClock& clock, WallClockMs wallClock = SteadyMilliseconds);

  // Replaces the aircraft (at start or when the user loads another one): new
  // title, new variables with ids 0, 1, 2, ... in the description's order, a fresh
  // handshake. Names handed out before stay valid.
  void Load(const AircraftDescription& description);

  // The four panel services.
  int32_t LookupVariableId(const char* name);
  double ReadVariableValue(int32_t id);
  void WriteVariableValue(int32_t id, double value);
  const char* GetVariableName(int32_t id);

  std::string Title();
  size_t VariableCount();

  // Every variable's name, in id order.
  std::vector<std::string> Names();
  // By name, for the console. False when no variable has the name.
  bool Set(const std::string& name, double value);
  bool Get(const std::string& name, double* value);

 private:
  double ReadLocked(int32_t id);
  void WriteLocked(int32_t id, double value);

  const SimClock& clock_;
  const WallClockMs wallClock_;
  SlimLock lock_;
  NamePool names_;                          // guarded by lock_
  std::unique_ptr<AircraftModel> model_;    // guarded by lock_
  std::unique_ptr<MjcResponder> mjc_;       // guarded by lock_
};

}  // namespace simhost
