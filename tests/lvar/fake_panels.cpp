#include "fake_panels.h"

#include <cstring>

#include "lvar/bridge_services.h"

namespace {

FakePanels* current = nullptr;

template <typename Fn>
void* TableEntry(Fn fn) {
  void* entry = nullptr;
  std::memcpy(&entry, &fn, sizeof entry);
  return entry;
}

}  // namespace

FakePanels::FakePanels() {
  table_[49] = TableEntry(&FakePanels::LookupVariableId);
  table_[51] = TableEntry(&FakePanels::ReadVariableValue);
  table_[53] = TableEntry(&FakePanels::WriteVariableValue);
  table_[57] = TableEntry(&FakePanels::GetVariableName);
  current = this;
  Panels = table_;
}

FakePanels::~FakePanels() {
  Panels = nullptr;
  current = nullptr;
}

int32_t FakePanels::Put(int32_t id, const std::string& name, double value) {
  auto old = byId_.find(id);
  if (old != byId_.end()) idByName_.erase(old->second.name);
  byId_[id] = Variable{name, value};
  idByName_[name] = id;
  return id;
}

int32_t FakePanels::Add(const std::string& name, double value) {
  int32_t id = byId_.empty() ? 0 : byId_.rbegin()->first + 1;
  return Put(id, name, value);
}

void FakePanels::Remove(const std::string& name) {
  auto found = idByName_.find(name);
  if (found == idByName_.end()) return;
  byId_.erase(found->second);
  idByName_.erase(found);
}

void FakePanels::Move(const std::string& name, int32_t newId) {
  double value = Value(name);
  Remove(name);
  Put(newId, name, value);
}

void FakePanels::Clear() {
  byId_.clear();
  idByName_.clear();
}

double FakePanels::Value(const std::string& name) const { return byId_.at(idByName_.at(name)).value; }

void FakePanels::SetValue(const std::string& name, double value) { byId_.at(idByName_.at(name)).value = value; }

int32_t FakePanels::IdOf(const std::string& name) const {
  auto found = idByName_.find(name);
  return found == idByName_.end() ? -1 : found->second;
}

int32_t FakePanels::LookupVariableId(const char* name) {
  ++current->lookups;
  return current->IdOf(name);
}

double FakePanels::ReadVariableValue(int32_t id) {
  ++current->reads;
  if (current->beforeRead) current->beforeRead(id);
  auto found = current->byId_.find(id);
  return found == current->byId_.end() ? 0.0 : found->second.value;
}

void FakePanels::WriteVariableValue(int32_t id, double value) {
  ++current->writes;
  auto found = current->byId_.find(id);
  if (found != current->byId_.end()) found->second.value = value;
  if (current->afterWrite) current->afterWrite(id, value);
}

const char* FakePanels::GetVariableName(int32_t id) {
  ++current->nameQueries;
  auto found = current->byId_.find(id);
  return found == current->byId_.end() ? nullptr : found->second.name.c_str();
}
