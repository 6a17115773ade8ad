#include "bench_panels.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "clock.h"

namespace bench {

namespace {

BenchPanels* current = nullptr;

constexpr const char* kSystems[] = {
    "ENG1_N1", "HYD_SYS_A_PRESSURE", "ELEC_BUS_2",        "FUEL_TANK_CTR_QTY",
    "APU_EGT", "AUTOFLIGHT_MCP_ALT", "CABIN_ZONE_3_TEMP", "LIGHTS_LANDING_L",
};
constexpr size_t kSystemCount = sizeof kSystems / sizeof kSystems[0];
constexpr char kPrefix[] = "BENCH_";
constexpr double kConstantValue = 42.0;

}  // namespace

std::string BenchPanels::MakeName(uint32_t id) {
  char name[64];
  std::snprintf(name, sizeof name, "%s%s_%05u", kPrefix, kSystems[id % kSystemCount], id);
  return name;
}

bool BenchPanels::ParseId(const char* name, uint32_t* id) {
  if (name == nullptr || _strnicmp(name, kPrefix, sizeof kPrefix - 1) != 0) return false;
  const char* digits = std::strrchr(name, '_');
  if (digits == nullptr || std::strlen(digits + 1) != 5) return false;
  char* end = nullptr;
  unsigned long value = std::strtoul(digits + 1, &end, 10);
  if (end == nullptr || *end != '\0') return false;
  *id = static_cast<uint32_t>(value);
  return true;
}

BenchPanels::BenchPanels(uint32_t count, Values values) : values_(values) {
  names_.reserve(count);
  for (uint32_t id = 0; id < count; ++id) names_.push_back(MakeName(id));
  table_[panel_table::kLookupVariableId] = panel_table::EntryOf(&BenchPanels::LookupVariableId);
  table_[panel_table::kReadVariableValue] = panel_table::EntryOf(&BenchPanels::ReadVariableValue);
  table_[panel_table::kWriteVariableValue] = panel_table::EntryOf(&BenchPanels::WriteVariableValue);
  table_[panel_table::kGetVariableName] = panel_table::EntryOf(&BenchPanels::GetVariableName);
  current = this;
}

BenchPanels::~BenchPanels() { current = nullptr; }

int32_t BenchPanels::LookupVariableId(const char* name) {
  BenchPanels* self = current;
  if (self == nullptr) return -1;
  self->lookups_.fetch_add(1, std::memory_order_relaxed);
  uint32_t id = 0;
  if (!ParseId(name, &id) || id >= self->names_.size()) return -1;
  // Names compare without regard to case, as the simulator's do.
  return _stricmp(self->names_[id].c_str(), name) == 0 ? static_cast<int32_t>(id) : -1;
}

double BenchPanels::ReadVariableValue(int32_t id) {
  BenchPanels* self = current;
  if (self == nullptr) return 0.0;
  self->reads_.fetch_add(1, std::memory_order_relaxed);
  if (id < 0 || static_cast<size_t>(id) >= self->names_.size()) return 0.0;
  return self->values_ == Values::kReadTime ? NowMs() : kConstantValue;
}

void BenchPanels::WriteVariableValue(int32_t, double) {}

const char* BenchPanels::GetVariableName(int32_t id) {
  BenchPanels* self = current;
  if (self == nullptr) return nullptr;
  self->nameQueries_.fetch_add(1, std::memory_order_relaxed);
  if (id < 0 || static_cast<size_t>(id) >= self->names_.size()) return nullptr;
  return self->names_[id].c_str();
}

}  // namespace bench
