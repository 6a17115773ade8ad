// Calls through the simulator's panel-service table.
#include "lvar/panel_services.h"

#include <cstring>

#include "lvar/bridge_services.h"

namespace panels {

namespace {

// The function stored at `position` of the table, or null. The entry is copied
// out as bytes, which turns a table slot into a function pointer without a
// cast between object and function pointers.
template <typename Fn>
Fn Entry(size_t position) {
  void* table = Panels;
  if (table == nullptr) return nullptr;
  Fn fn = nullptr;
  static_assert(sizeof fn == 8, "table entries are 8-byte function addresses");
  std::memcpy(&fn, static_cast<const unsigned char*>(table) + 8 * position, sizeof fn);
  return fn;
}

}  // namespace

bool Available() { return Panels != nullptr; }

int32_t LookupVariableId(const char* name) {
  auto fn = Entry<panel_table::LookupVariableIdFn>(panel_table::kLookupVariableId);
  return fn != nullptr ? fn(name) : -1;
}

double ReadVariableValue(int32_t id) {
  auto fn = Entry<panel_table::ReadVariableValueFn>(panel_table::kReadVariableValue);
  return fn != nullptr ? fn(id) : 0.0;
}

void WriteVariableValue(int32_t id, double value) {
  auto fn = Entry<panel_table::WriteVariableValueFn>(panel_table::kWriteVariableValue);
  if (fn != nullptr) fn(id, value);
}

const char* GetVariableName(int32_t id) {
  auto fn = Entry<panel_table::GetVariableNameFn>(panel_table::kGetVariableName);
  return fn != nullptr ? fn(id) : nullptr;
}

}  // namespace panels
