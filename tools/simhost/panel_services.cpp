// The panel-service table and its four services.
#include "panel_services.h"

#include <atomic>

#include "aircraft_host.h"

namespace simhost {

namespace {

std::atomic<AircraftHost*> installedAircraft{nullptr};

int32_t LookupVariableIdService(const char* name) {
  AircraftHost* aircraft = installedAircraft.load(std::memory_order_acquire);
  return aircraft ? aircraft->LookupVariableId(name) : -1;
}

double ReadVariableValueService(int32_t id) {
  AircraftHost* aircraft = installedAircraft.load(std::memory_order_acquire);
  return aircraft ? aircraft->ReadVariableValue(id) : 0.0;
}

void WriteVariableValueService(int32_t id, double value) {
  AircraftHost* aircraft = installedAircraft.load(std::memory_order_acquire);
  if (aircraft) aircraft->WriteVariableValue(id, value);
}

const char* GetVariableNameService(int32_t id) {
  AircraftHost* aircraft = installedAircraft.load(std::memory_order_acquire);
  return aircraft ? aircraft->GetVariableName(id) : nullptr;
}

uint64_t AddressOf(const void* function) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(function)); }

struct Table {
  Table() {
    entries[panel_table::kLookupVariableId] = AddressOf(reinterpret_cast<const void*>(&LookupVariableIdService));
    entries[panel_table::kReadVariableValue] = AddressOf(reinterpret_cast<const void*>(&ReadVariableValueService));
    entries[panel_table::kWriteVariableValue] = AddressOf(reinterpret_cast<const void*>(&WriteVariableValueService));
    entries[panel_table::kGetVariableName] = AddressOf(reinterpret_cast<const void*>(&GetVariableNameService));
  }
  uint64_t entries[panel_table::kEntries] = {};
};

Table& TheTable() {
  static Table table;
  return table;
}

}  // namespace

const uint64_t* InstallPanelServices(AircraftHost* aircraft) {
  installedAircraft.store(aircraft, std::memory_order_release);
  return TheTable().entries;
}

}  // namespace simhost
