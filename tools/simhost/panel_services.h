// The panel-service table that the simulator hands its add-ons through their
// `Panels` export: an array of 8-byte function addresses, of which entries 49,
// 51, 53 and 57 serve the user aircraft's panel variables and every other entry
// is null. The functions reach the aircraft installed here; there is one table
// per process, as there is one simulator. No OS calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace simhost {

class AircraftHost;

constexpr size_t kPanelTableEntries = 64;
constexpr size_t kLookupVariableIdEntry = 49;   // int32 (const char* name): id, or -1
constexpr size_t kReadVariableValueEntry = 51;  // double (int32 id): the value, 0.0 for an unknown id
constexpr size_t kWriteVariableValueEntry = 53; // void (int32 id, double value)
constexpr size_t kGetVariableNameEntry = 57;    // const char* (int32 id): the name, null for an unknown id

using LookupVariableIdFn = int32_t (*)(const char* name);
using ReadVariableValueFn = double (*)(int32_t id);
using WriteVariableValueFn = void (*)(int32_t id, double value);
using GetVariableNameFn = const char* (*)(int32_t id);

// Makes the table's services serve `aircraft` (null: no aircraft; lookups
// then find nothing) and returns the table's address, which stays valid for
// the life of the process.
const uint64_t* InstallPanelServices(AircraftHost* aircraft);
// The table's address.
const uint64_t* PanelServiceTable();

}  // namespace simhost
