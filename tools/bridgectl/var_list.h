// Assembly of the variable list from the VarDump chunks the bridge writes in
// answer to one list request: zero or more chunks of "name;name;...;" and
// always a closing record. OS-free.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lvar/records.h"

namespace bridgectl {

class VarListAssembler {
 public:
  enum class Status {
    kMore,   // the list is not complete yet
    kDone,   // the closing record of the list arrived: names() is the list
    kError,  // a record that is no VarDump chunk (error())
  };

  // Takes the next record written to the VarDump area.
  //
  // Every client sees every write of the area, so the records of a list that
  // another application asked for just before may still be on their way when
  // ours start. A list always begins with a chunk whose firstId is 0, or, when
  // it names nothing, with the closing record alone. Chunks seen before such a
  // start belong to a list already under way: they and that list's closing
  // record are skipped. Two lists in a row (ours and another's) name the same
  // registry: the first complete one is taken.
  Status Feed(const records::VarDump& record);

  const std::vector<std::string>& names() const { return names_; }
  // The bridge's registry count (MJC entries included, though not named).
  uint32_t totalCount() const { return totalCount_; }
  // Chunks that carried names (the closing record not counted).
  uint32_t chunkCount() const { return chunks_; }
  const std::string& error() const { return error_; }

  void Reset();

 private:
  bool started_ = false;
  bool skipping_ = false;  // chunks of a list under way were seen
  uint32_t totalCount_ = 0;
  uint32_t chunks_ = 0;
  std::vector<std::string> names_;
  std::string error_;
};

// Splits "a;b;c;" into its names; empty pieces are dropped.
std::vector<std::string> SplitNames(const char* text, size_t length);

}  // namespace bridgectl
