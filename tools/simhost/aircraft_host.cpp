// The user aircraft behind one lock.
#include "aircraft_host.h"

#include <chrono>

namespace simhost {

uint64_t SteadyMilliseconds() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

AircraftHost::AircraftHost(const SimClock& clock, WallClockMs wallClock) : clock_(clock), wallClock_(wallClock) {
  AircraftDescription empty;
  empty.title = "No aircraft";
  Load(empty);
}

void AircraftHost::Load(const AircraftDescription& description) {
  std::lock_guard<SlimLock> guard(lock_);
  model_.reset(new AircraftModel(description, names_));
  mjc_.reset(new MjcResponder(description.mjc, *model_));
}

double AircraftHost::ReadLocked(int32_t id) {
  double seconds = clock_.Seconds();
  mjc_->BeforeRead(id, wallClock_(), *model_, seconds);
  return model_->Read(id, seconds);
}

void AircraftHost::WriteLocked(int32_t id, double value) {
  model_->Write(id, value);
  mjc_->AfterWrite(id, value, wallClock_(), *model_, clock_.Seconds());
}

int32_t AircraftHost::LookupVariableId(const char* name) {
  std::lock_guard<SlimLock> guard(lock_);
  return model_->Lookup(name);
}

double AircraftHost::ReadVariableValue(int32_t id) {
  std::lock_guard<SlimLock> guard(lock_);
  return ReadLocked(id);
}

void AircraftHost::WriteVariableValue(int32_t id, double value) {
  std::lock_guard<SlimLock> guard(lock_);
  WriteLocked(id, value);
}

const char* AircraftHost::GetVariableName(int32_t id) {
  std::lock_guard<SlimLock> guard(lock_);
  return model_->Name(id);
}

std::string AircraftHost::Title() {
  std::lock_guard<SlimLock> guard(lock_);
  return model_->Title();
}

size_t AircraftHost::VariableCount() {
  std::lock_guard<SlimLock> guard(lock_);
  return model_->Count();
}

std::vector<std::string> AircraftHost::Names() {
  std::lock_guard<SlimLock> guard(lock_);
  std::vector<std::string> names;
  for (size_t i = 0; i < model_->Count(); ++i) names.push_back(model_->Name(static_cast<int32_t>(i)));
  return names;
}

bool AircraftHost::Set(const std::string& name, double value) {
  std::lock_guard<SlimLock> guard(lock_);
  int32_t id = model_->Lookup(name.c_str());
  if (id < 0) return false;
  WriteLocked(id, value);
  return true;
}

bool AircraftHost::Get(const std::string& name, double* value) {
  std::lock_guard<SlimLock> guard(lock_);
  int32_t id = model_->Lookup(name.c_str());
  if (id < 0) return false;
  *value = ReadLocked(id);
  return true;
}

}  // namespace simhost
