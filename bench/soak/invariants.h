// What must hold while the soak runs, and the record of what did not: every
// failure is printed at once with the seed and the event that preceded it.
// PanelModel is the soak's knowledge of the panel: every value each variable
// has held since its aircraft was loaded, against which every VarData is
// checked.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "aircraft_description.h"
#include "lvar/records.h"

namespace soak {

class Failures {
 public:
  explicit Failures(uint32_t seed) : seed_(seed) {}
  // The event that the following failures come after ("#12 burst 300").
  void SetLastEvent(const std::string& event) { lastEvent_ = event; }
  const std::string& LastEvent() const { return lastEvent_; }
  // Prints "FAIL seed S after event E: what" (the first 100; all are counted).
  void Fail(const std::string& what);
  // A fault of the module that the soak recognizes (`kind` names it): printed
  // as "FINDING ..." (the first 5 of each kind) and counted; a failure as well
  // when the run is strict.
  void Finding(const std::string& kind, const std::string& what);
  void SetStrict(bool strict) { strict_ = strict; }
  size_t Count() const { return count_; }
  const std::map<std::string, uint64_t>& Findings() const { return findings_; }
  uint32_t Seed() const { return seed_; }

 private:
  uint32_t seed_;
  bool strict_ = false;
  std::string lastEvent_ = "(start)";
  size_t count_ = 0;
  std::map<std::string, uint64_t> findings_;
};

class PanelModel {
 public:
  // A new aircraft: its variables from their starting values, none monitored.
  // The variables of the two aircraft before stay known, for reports still on
  // their way; older ones are forgotten (the soak's own memory stays flat).
  void Load(const simhost::AircraftDescription& aircraft);
  const std::string& Title() const { return title_; }
  // Whether some aircraft of the run had `title`.
  bool KnownTitle(const std::string& title) const;
  // The current aircraft's variables in id order.
  const std::vector<std::string>& Names() const { return names_; }
  bool Known(const std::string& name) const { return variables_.count(name) != 0; }
  bool IsRamp(const std::string& name) const;

  // The panel's value now (a constant's; a ramp has none).
  double Current(const std::string& name) const;
  // A new value written into a constant (by a request or by the soak).
  void Write(const std::string& name, double value);

  // Whether `value` is one the variable may be reported with now to the
  // application `reader` (0 or 1): a ramp's range, or a value it held at or
  // after the one last reported to it (reports never go back in time). Moves
  // that reader's "last reported" mark. False with a description in `problem`.
  bool CheckReport(int reader, const std::string& name, double value, std::string* problem);
  // Whether the variable ever held `value` (or it is a ramp's).
  bool HeldEver(const std::string& name, double value) const;
  // For a variable of an earlier aircraft: the current aircraft's variable
  // with the same id, when that one held `value`, or a text saying that no
  // variable has the id, when `value` is 0 (a read through the old id); else
  // empty.
  std::string ReadThroughOldId(const std::string& name, double value) const;

  // Monitoring as the bridge was asked for it.
  void SetMonitored(const std::string& name, bool monitored, uint32_t intervalMs);
  void EndAllMonitoring();
  // A request that reader 0 will see answered with a VarData of `name`.
  void Solicit(const std::string& name) { ++solicited_[name]; }
  // Reader 0's requests so far are all answered: from now on a variable that
  // is not monitored is quiet, and a VarData of it that no later request
  // asked for is a fault.
  void ConfirmQuiet();
  // Monitored constants whose latest value was written more than `settleMs`
  // plus their interval ago and has not been reported to reader 0 since.
  std::vector<std::string> Unreported(DWORD now, DWORD settleMs) const;
  std::vector<std::string> Monitored() const;
  // The smallest interval of the monitored variables; 0 when none is.
  uint32_t SmallestInterval() const;

 private:
  struct Variable {
    bool ramp = false;
    uint32_t generation = 0;      // the aircraft it belongs to (1, 2, ...)
    size_t id = 0;                // in its aircraft
    std::vector<double> history;  // values held, oldest first
    size_t reported[2] = {0, 0};  // per reader: index in history of the latest value reported
    bool everReported[2] = {false, false};
    bool monitored = false;
    bool quiet = false;           // not monitored, and reader 0 has seen that served
    uint32_t intervalMs = 1000;
    DWORD writtenTick = 0;        // when the latest value was written
  };
  std::map<std::string, Variable> variables_;
  std::map<std::string, int> solicited_;  // VarData reader 0 has asked for since ConfirmQuiet
  std::vector<std::string> names_;
  uint32_t generation_ = 0;
  std::string title_;
  std::vector<std::string> titles_;
};

// A double as the log and the failures print it.
std::string Number(double value);

}  // namespace soak
