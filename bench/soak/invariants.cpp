#include "invariants.h"

#include <cstdio>
#include <iterator>

#include "soak_aircraft.h"

namespace soak {

void Failures::Fail(const std::string& what) {
  ++count_;
  if (count_ <= 100) {
    std::printf("FAIL seed %u after event %s: %s\n", seed_, lastEvent_.c_str(), what.c_str());
    std::fflush(stdout);
  }
}

void Failures::Finding(const std::string& kind, const std::string& what) {
  if (strict_) {
    Fail(kind + ": " + what);
    return;
  }
  if (++findings_[kind] <= 5) {
    std::printf("FINDING seed %u after event %s: %s: %s\n", seed_, lastEvent_.c_str(), kind.c_str(), what.c_str());
    std::fflush(stdout);
  }
}

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

void PanelModel::Load(const simhost::AircraftDescription& aircraft) {
  title_ = aircraft.title;
  titles_.push_back(title_);
  names_.clear();
  ++generation_;
  for (auto it = variables_.begin(); it != variables_.end();) {
    it->second.monitored = false;
    it = it->second.generation + 2 < generation_ ? variables_.erase(it) : std::next(it);
  }
  const DWORD now = GetTickCount();
  for (const simhost::VariableDescription& description : aircraft.variables) {
    Variable variable;
    variable.ramp = description.motion.kind != simhost::MotionKind::kConstant;
    variable.id = names_.size();
    variable.generation = generation_;
    variable.history.push_back(description.motion.value);
    variable.writtenTick = now;
    variables_[description.name] = variable;
    names_.push_back(description.name);
  }
}

bool PanelModel::KnownTitle(const std::string& title) const {
  for (const std::string& known : titles_) {
    if (known == title) return true;
  }
  return false;
}

bool PanelModel::IsRamp(const std::string& name) const {
  auto it = variables_.find(name);
  return it != variables_.end() && it->second.ramp;
}

double PanelModel::Current(const std::string& name) const { return variables_.at(name).history.back(); }

void PanelModel::Write(const std::string& name, double value) {
  Variable& variable = variables_.at(name);
  variable.history.push_back(value);
  variable.writtenTick = GetTickCount();
}

bool PanelModel::CheckReport(int reader, const std::string& name, double value, std::string* problem) {
  auto it = variables_.find(name);
  if (it == variables_.end()) {
    *problem = "a value of a variable no aircraft had: " + name + " = " + Number(value);
    return false;
  }
  Variable& variable = it->second;
  if (reader == 0 && variable.quiet) {
    int& asked = solicited_[name];
    if (asked == 0) {
      *problem = name + " = " + Number(value) +
                 ": a report of a variable whose monitoring ended, which no request asked for";
      return false;
    }
    --asked;
  }
  const size_t from = variable.everReported[reader] ? variable.reported[reader] : 0;
  for (size_t i = from; i < variable.history.size(); ++i) {
    if (variable.history[i] == value) {
      variable.reported[reader] = i;
      variable.everReported[reader] = true;
      return true;
    }
  }
  if (variable.ramp && value >= 0.0 && value <= kRampTop) return true;
  std::string held;
  for (size_t i = from; i < variable.history.size(); ++i) {
    held += (held.empty() ? "" : ", ") + Number(variable.history[i]);
  }
  *problem = name + " = " + Number(value) + ", but since its last report the panel held only " +
             (variable.ramp ? "ramp values in [0, 1000] or " : "") + held;
  return false;
}

bool PanelModel::HeldEver(const std::string& name, double value) const {
  auto it = variables_.find(name);
  if (it == variables_.end()) return false;
  if (it->second.ramp && value >= 0.0 && value <= kRampTop) return true;
  for (double held : it->second.history) {
    if (held == value) return true;
  }
  return false;
}

std::string PanelModel::ReadThroughOldId(const std::string& name, double value) const {
  auto it = variables_.find(name);
  if (it == variables_.end()) return std::string();
  // The panel reads an id that no variable has as 0.
  if (it->second.id >= names_.size()) return value == 0.0 ? "no variable (the panel reads 0)" : std::string();
  const std::string& current = names_[it->second.id];
  return current != name && HeldEver(current, value) ? current : std::string();
}

void PanelModel::SetMonitored(const std::string& name, bool monitored, uint32_t intervalMs) {
  Variable& variable = variables_.at(name);
  variable.monitored = monitored;
  if (monitored) variable.quiet = false;
  if (monitored && intervalMs > 0) variable.intervalMs = intervalMs;
}

void PanelModel::EndAllMonitoring() {
  for (auto& entry : variables_) entry.second.monitored = false;
}

void PanelModel::ConfirmQuiet() {
  for (auto& entry : variables_) entry.second.quiet = !entry.second.monitored;
  solicited_.clear();
}

std::vector<std::string> PanelModel::Unreported(DWORD now, DWORD settleMs) const {
  std::vector<std::string> names;
  for (const std::string& name : names_) {
    const Variable& variable = variables_.at(name);
    if (!variable.monitored || variable.ramp) continue;
    if (now - variable.writtenTick < variable.intervalMs + settleMs) continue;
    if (!variable.everReported[0] || variable.history[variable.reported[0]] != variable.history.back()) {
      names.push_back(name);
    }
  }
  return names;
}

uint32_t PanelModel::SmallestInterval() const {
  uint32_t smallest = 0;
  for (const std::string& name : names_) {
    const Variable& variable = variables_.at(name);
    if (variable.monitored && (smallest == 0 || variable.intervalMs < smallest)) smallest = variable.intervalMs;
  }
  return smallest;
}

std::vector<std::string> PanelModel::Monitored() const {
  std::vector<std::string> names;
  for (const std::string& name : names_) {
    if (variables_.at(name).monitored) names.push_back(name);
  }
  return names;
}

}  // namespace soak
