// The ordered registry of LVAREntry records with an index by case-folded name.
//
// Searches by name ignore the case of ASCII letters (as the C locale's
// case-insensitive comparison does) and give the first entry in registry order
// whose name matches. The index maps each folded name to that first entry and
// is kept in step with every change of the sequence, so a search costs one
// hash lookup instead of a walk of the registry.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "lvar/lvar_entry.h"

class LVARRegistry {
 public:
  using Storage = std::vector<std::unique_ptr<LVAREntry>>;

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  LVAREntry& operator[](size_t index) { return *entries_[index]; }
  const LVAREntry& operator[](size_t index) const { return *entries_[index]; }
  Storage::iterator begin() { return entries_.begin(); }
  Storage::iterator end() { return entries_.end(); }
  Storage::const_iterator begin() const { return entries_.begin(); }
  Storage::const_iterator end() const { return entries_.end(); }

  // The first entry whose name equals `name` without regard to case; null when
  // none does or name is null.
  LVAREntry* Find(const char* name) const;

  // Appends an entry at the end of the registry and returns it.
  LVAREntry& Append(std::unique_ptr<LVAREntry> entry);

  // Releases every entry.
  void Clear();

  // Takes every entry whose `removed` is set out of the registry, releasing it,
  // and keeps the order of the others. Returns how many were removed.
  size_t RemoveMarked();

 private:
  // Folds `name` into key_ (ASCII letters to lower case) and returns it.
  const std::string& Fold(const char* name) const;

  Storage entries_;
  std::unordered_map<std::string, LVAREntry*> firstByFoldedName_;
  mutable std::string key_;  // scratch buffer of Fold
};
