// Assembly of the VarDump chunks into the variable list. OS-free.
#include "var_list.h"

#include <cstdio>

namespace bridgectl {

std::vector<std::string> SplitNames(const char* text, size_t length) {
  std::vector<std::string> names;
  size_t start = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i == length || text[i] == ';') {
      if (i > start) names.emplace_back(text + start, i - start);
      start = i + 1;
    }
  }
  return names;
}

void VarListAssembler::Reset() { *this = VarListAssembler(); }

VarListAssembler::Status VarListAssembler::Feed(const records::VarDump& record) {
  if (record.format != records::kVarDumpFormat) {
    char text[96];
    std::snprintf(text, sizeof text, "a variable-list record of unknown format %08x", record.format);
    error_ = text;
    return Status::kError;
  }
  const size_t length = records::TextLength(record.names, sizeof record.names);

  if (record.firstId == records::kVarDumpClosingId) {
    if (!started_ && skipping_) {
      // The end of a list that was already under way: ours is still to come.
      skipping_ = false;
      return Status::kMore;
    }
    // Our list, or an empty one that consists of the closing record alone.
    totalCount_ = record.totalCount;
    return Status::kDone;
  }

  if (!started_) {
    if (record.firstId != 0) {
      skipping_ = true;
      return Status::kMore;
    }
    started_ = true;
    skipping_ = false;
  }
  // Later chunks carry the id of their first variable. Ids need not rise from
  // chunk to chunk (variables found by a later scan are appended with their
  // own ids), so they are not checked.
  totalCount_ = record.totalCount;
  ++chunks_;
  std::vector<std::string> more = SplitNames(record.names, length);
  names_.insert(names_.end(), more.begin(), more.end());
  return Status::kMore;
}

}  // namespace bridgectl
