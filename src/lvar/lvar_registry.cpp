#include "lvar/lvar_registry.h"

#include <algorithm>
#include <utility>

#include "lvar/variable_names.h"

const std::string& LVARRegistry::Fold(const char* name) const {
  key_.clear();
  for (const char* p = name; *p != '\0'; ++p) key_.push_back(variable_names::FoldAscii(*p));
  return key_;
}

LVAREntry* LVARRegistry::Find(const char* name) const {
  if (name == nullptr) return nullptr;
  auto found = firstByFoldedName_.find(Fold(name));
  return found != firstByFoldedName_.end() ? found->second : nullptr;
}

LVAREntry& LVARRegistry::Append(std::unique_ptr<LVAREntry> entry) {
  LVAREntry* added = entry.get();
  entries_.push_back(std::move(entry));
  // An earlier entry of the same folded name stays the one searches find.
  firstByFoldedName_.emplace(Fold(added->name), added);
  return *added;
}

void LVARRegistry::Clear() {
  firstByFoldedName_.clear();
  entries_.clear();
}

size_t LVARRegistry::RemoveMarked() {
  auto kept = std::stable_partition(entries_.begin(), entries_.end(),
                                    [](const std::unique_ptr<LVAREntry>& e) { return !e->removed; });
  size_t removed = static_cast<size_t>(entries_.end() - kept);
  if (removed == 0) return 0;
  entries_.erase(kept, entries_.end());
  // Rebuild the index: a removed entry may have hidden a later one of the same
  // folded name, which now becomes the first.
  firstByFoldedName_.clear();
  for (const auto& entry : entries_) firstByFoldedName_.emplace(Fold(entry->name), entry.get());
  return removed;
}
