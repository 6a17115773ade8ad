// The aircraft side of the MJC handshake. The add-on writes a code into
// MJC_VAR_READ_CODE and polls it until the aircraft answers 9991999 (the value
// stands in MJC_VAR_READ_VALUE) or 9992999 (data not found); to write, it puts
// the value into MJC_VAR_WRITE_VALUE, the code into MJC_VAR_WRITE_CODE, and
// polls that until the answer comes. This responder answers when the add-on
// reads a code variable and the configured delay has passed since the code was
// written; a code marked silent is never answered. Runs under AircraftHost's
// lock. No OS calls.
#pragma once

#include <cstdint>
#include <map>

#include "aircraft_model.h"
#include "aircraft_description.h"

namespace simhost {

class MjcResponder {
 public:
  // Finds the handshake variables in `model`; with the handshake disabled the
  // responder never acts.
  MjcResponder(const MjcSettings& settings, const AircraftModel& model);

  // Call after `value` was written to variable `id` at wall time `nowMs`.
  void AfterWrite(int32_t id, double value, uint64_t nowMs, AircraftModel& model, double seconds);
  // Call before variable `id` is read at wall time `nowMs`; answers a pending
  // handshake whose delay has passed.
  void BeforeRead(int32_t id, uint64_t nowMs, AircraftModel& model, double seconds);

 private:
  struct Pending {
    bool active = false;
    uint32_t code = 0;
    uint64_t sinceMs = 0;
    double value = 0.0;  // write: the value to store
  };
  const MjcCodeEntry* Find(uint32_t code) const;
  MjcAnswer AnswerFor(uint32_t code, const MjcCodeEntry** entry) const;
  void AnswerRead(AircraftModel& model, double seconds);
  void AnswerWrite(AircraftModel& model);

  MjcSettings settings_;
  int32_t readCodeId_ = -1;
  int32_t readValueId_ = -1;
  int32_t writeCodeId_ = -1;
  int32_t writeValueId_ = -1;
  Pending read_;
  Pending write_;
  std::map<uint32_t, double> values_;  // the values of codes answered with `value`
};

}  // namespace simhost
