#include "fake_panels.h"

#include <cstring>

// The program's own `Panels`, as the module exports it (see lvar/bridge_services.h).
extern "C" {
void* Panels = nullptr;
}

namespace {

FakePanels* current = nullptr;

}  // namespace

FakePanels::FakePanels() {
  table_[panel_table::kLookupVariableId] = panel_table::EntryOf(&FakePanels::Lookup);
  table_[panel_table::kReadVariableValue] = panel_table::EntryOf(&FakePanels::Read);
  table_[panel_table::kWriteVariableValue] = panel_table::EntryOf(&FakePanels::Write);
  table_[panel_table::kGetVariableName] = panel_table::EntryOf(&FakePanels::Name);
  current = this;
  Panels = table_;
}

FakePanels::~FakePanels() {
  Panels = nullptr;
  current = nullptr;
}

void FakePanels::Put(int32_t id, const std::string& name, double value) {
  if (static_cast<size_t>(id) >= byId_.size()) byId_.resize(static_cast<size_t>(id) + 1);
  if (!byId_[id].name.empty()) ids_.erase(byId_[id].name);
  byId_[id] = Variable{name, value};
  ids_[name] = id;
}

void FakePanels::Remove(const std::string& name) {
  auto found = ids_.find(name);
  if (found == ids_.end()) return;
  byId_[found->second] = Variable{};
  ids_.erase(found);
}

void FakePanels::Move(const std::string& name, int32_t id) {
  const double value = Value(name);
  Remove(name);
  Put(id, name, value);
}

void FakePanels::Set(const std::string& name, double value) { byId_[ids_.at(name)].value = value; }
double FakePanels::Value(const std::string& name) const { return byId_[ids_.at(name)].value; }

void FakePanels::EnableMjc(int32_t firstId) {
  mjcFirst_ = firstId;
  Put(firstId, "MJC_VAR_READ_VALUE");
  Put(firstId + 1, "MJC_VAR_READ_CODE");
  Put(firstId + 2, "MJC_VAR_WRITE_VALUE");
  Put(firstId + 3, "MJC_VAR_WRITE_CODE");
}

void FakePanels::Answer(int32_t codeId, int32_t valueId, Pending& pending) {
  if (onMjcPoll) onMjcPoll();
  if (!pending.active || mjcSilent || ++pending.polls < 2) return;
  pending.active = false;
  auto found = mjcValues.find(pending.code);
  if (found == mjcValues.end()) {
    byId_[codeId].value = kMjcNotFound;
  } else if (&pending == &read_) {
    byId_[valueId].value = found->second;
    byId_[codeId].value = mjcReadDone;
  } else {
    found->second = pending.written;
    byId_[codeId].value = mjcWriteDone;
  }
}

int32_t FakePanels::Lookup(const char* name) {
  auto found = current->ids_.find(name);
  return found == current->ids_.end() ? -1 : found->second;
}

double FakePanels::Read(int32_t id) {
  FakePanels& self = *current;
  ++self.reads;
  if (self.beforeRead) self.beforeRead(id);
  if (self.mjcFirst_ >= 0 && id == self.mjcFirst_ + 1) self.Answer(id, id - 1, self.read_);
  if (self.mjcFirst_ >= 0 && id == self.mjcFirst_ + 3) self.Answer(id, id - 1, self.write_);
  return id >= 0 && static_cast<size_t>(id) < self.byId_.size() ? self.byId_[id].value : 0.0;
}

void FakePanels::Write(int32_t id, double value) {
  FakePanels& self = *current;
  if (id < 0 || static_cast<size_t>(id) >= self.byId_.size() || self.byId_[id].name.empty()) return;
  self.byId_[id].value = value;
  const auto code = static_cast<uint32_t>(value);
  if (self.mjcFirst_ >= 0 && id == self.mjcFirst_ + 1) self.read_ = Pending{true, code, 0.0, 0};
  if (self.mjcFirst_ >= 0 && id == self.mjcFirst_ + 3) self.write_ = Pending{true, code, self.byId_[id - 1].value, 0};
}

const char* FakePanels::Name(int32_t id) {
  FakePanels& self = *current;
  ++self.nameQueries;
  return id >= 0 && static_cast<size_t>(id) < self.byId_.size() && !self.byId_[id].name.empty()
             ? self.byId_[id].name.c_str()
             : nullptr;
}
