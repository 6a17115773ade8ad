// The user aircraft behind one lock.
#include "aircraft_host.h"

#include <cctype>
#include <chrono>

namespace simhost {

namespace {

bool ContainsNoCase(const std::string& text, const std::string& part) {
  if (part.empty()) return true;
  auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
  for (size_t i = 0; i + part.size() <= text.size(); ++i) {
    size_t j = 0;
    while (j < part.size() && lower(text[i + j]) == lower(part[j])) ++j;
    if (j == part.size()) return true;
  }
  return false;
}

}  // namespace

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

std::vector<AircraftHost::VariableView> AircraftHost::List(const std::string& filter, size_t limit) {
  std::lock_guard<SlimLock> guard(lock_);
  std::vector<VariableView> views;
  for (size_t i = 0; i < model_->Count() && views.size() < limit; ++i) {
    int32_t id = static_cast<int32_t>(i);
    std::string name = model_->Name(id);
    if (!ContainsNoCase(name, filter)) continue;
    views.push_back(VariableView{id, name, ReadLocked(id), model_->Held(id)});
  }
  return views;
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
