// A substitute for the simulator's panel-service table: variables by id, the
// four entries at their positions, and hooks through which a test plays an
// aircraft that answers the MJC handshake. While it lives, Panels points at
// its table. One at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>

class FakePanels {
 public:
  FakePanels();
  ~FakePanels();
  FakePanels(const FakePanels&) = delete;
  FakePanels& operator=(const FakePanels&) = delete;

  // Puts a variable at `id` (replacing whatever was there); returns the id.
  int32_t Put(int32_t id, const std::string& name, double value);
  // Puts a variable at the id after the highest in use.
  int32_t Add(const std::string& name, double value);
  // Takes the variable of that name away.
  void Remove(const std::string& name);
  // Moves a variable to another id, keeping its value.
  void Move(const std::string& name, int32_t newId);
  void Clear();

  double Value(const std::string& name) const;
  void SetValue(const std::string& name, double value);
  int32_t IdOf(const std::string& name) const;  // -1 when missing

  // Hooks: called after a write stored its value, and before a read returns
  // (it may change what the read returns).
  std::function<void(int32_t id, double value)> afterWrite;
  std::function<void(int32_t id)> beforeRead;

  // Calls counted per entry.
  int lookups = 0;
  int reads = 0;
  int writes = 0;
  int nameQueries = 0;

  // Table entries; called through the table.
  static int32_t LookupVariableId(const char* name);
  static double ReadVariableValue(int32_t id);
  static void WriteVariableValue(int32_t id, double value);
  static const char* GetVariableName(int32_t id);

 private:
  struct Variable {
    std::string name;
    double value;
  };
  void* table_[64] = {};
  std::map<int32_t, Variable> byId_;
  std::unordered_map<std::string, int32_t> idByName_;
};
