#include "lvar/lvar_entry.h"

#include <cstring>

void LVAREntry::SetName(const char* text) {
  std::memset(name, 0, sizeof name);
  if (text == nullptr) return;
  size_t n = 0;
  while (n < kMaxEntryNameLength && text[n] != '\0') ++n;
  std::memcpy(name, text, n);
}
