// The layout of the panel-service table that the simulator hands its add-ons
// through their `Panels` export: 64 entries of 8-byte function addresses, of
// which four reach the user aircraft's local panel variables (ids are 32-bit
// signed integers). The module calls through it, simhost and the tests'
// substitutes fill it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace panel_table {

constexpr size_t kEntries = 64;
constexpr size_t kLookupVariableId = 49;   // the id of a name, or -1
constexpr size_t kReadVariableValue = 51;  // the value of an id; 0.0 for an unknown id
constexpr size_t kWriteVariableValue = 53;
constexpr size_t kGetVariableName = 57;    // the name of an id; null for an unknown id

using LookupVariableIdFn = int32_t (*)(const char* name);
using ReadVariableValueFn = double (*)(int32_t id);
using WriteVariableValueFn = void (*)(int32_t id, double value);
using GetVariableNameFn = const char* (*)(int32_t id);

// A function as an entry of the table. Copied as bytes, which turns a function
// pointer into a table slot without a cast between function and object pointers.
template <typename Fn>
void* EntryOf(Fn fn) {
  static_assert(sizeof(Fn) == sizeof(void*), "table entries are 8-byte function addresses");
  void* entry = nullptr;
  std::memcpy(&entry, &fn, sizeof entry);
  return entry;
}

}  // namespace panel_table
