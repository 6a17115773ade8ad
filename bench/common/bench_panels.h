// A panel-service table for the benchmarks, in place of an aircraft: `count`
// variables with ids 0 .. count-1, named "BENCH_<system>_<id>" (five digits;
// the system part varies, so names run from 19 to 30 characters, like real
// panel variables). Each read returns the time of the read in milliseconds
// (NowMs), so every variable moves between any two reads and a published
// value tells when the bridge read it; or, for runs that should publish
// nothing, a constant.
//
// The table counts the calls of each entry. One table at a time: the entries
// are plain functions that reach the live instance through a module-wide
// pointer. Reads run on the bridge's worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "lvar/panel_table.h"

namespace bench {

class BenchPanels {
 public:
  enum class Values { kReadTime, kConstant };

  BenchPanels(uint32_t count, Values values);
  ~BenchPanels();
  BenchPanels(const BenchPanels&) = delete;
  BenchPanels& operator=(const BenchPanels&) = delete;

  // The 64-entry table to store in the module's `Panels`.
  void* Table() { return table_; }
  uint32_t Count() const { return static_cast<uint32_t>(names_.size()); }
  const std::string& Name(uint32_t id) const { return names_[id]; }

  // The id a name was made from (its prefix in any case); false for any other
  // text.
  static bool ParseId(const char* name, uint32_t* id);
  static std::string MakeName(uint32_t id);

  uint64_t Reads() const { return reads_.load(std::memory_order_relaxed); }
  uint64_t Lookups() const { return lookups_.load(std::memory_order_relaxed); }
  uint64_t NameQueries() const { return nameQueries_.load(std::memory_order_relaxed); }
  // The counter of reads, for code that watches it without knowing the table.
  const std::atomic<uint64_t>& ReadCounter() const { return reads_; }

 private:
  static int32_t LookupVariableId(const char* name);
  static double ReadVariableValue(int32_t id);
  static void WriteVariableValue(int32_t id, double value);
  static const char* GetVariableName(int32_t id);

  void* table_[panel_table::kEntries] = {};
  std::vector<std::string> names_;
  Values values_;
  std::atomic<uint64_t> reads_{0};
  std::atomic<uint64_t> lookups_{0};
  std::atomic<uint64_t> nameQueries_{0};
};

}  // namespace bench
