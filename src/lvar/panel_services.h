// Calls through the four entries of the simulator's panel-service table
// (panel_table.h). Every call reads `Panels` afresh: the simulator may fill it
// after the module started, and a test may swap it.
#pragma once

#include <cstdint>

#include "lvar/panel_table.h"

namespace panels {

// Every id below this one is enumerated by a scan (0 to 65534).
constexpr int32_t kVariableIdLimit = 65535;

// True while the simulator's table is present.
bool Available();

// Each returns what the table's entry returns. With no table, or a null entry
// in it, they answer as for a variable that does not exist: -1, 0.0, nothing
// written, null.
int32_t LookupVariableId(const char* name);
double ReadVariableValue(int32_t id);
void WriteVariableValue(int32_t id, double value);
const char* GetVariableName(int32_t id);

}  // namespace panels
