#include "lvar/lvar_entry.h"

#include <cstring>

#include "lvar/records.h"

void LVAREntry::SetName(const char* text) {
  std::memset(name, 0, sizeof name);
  records::SetText(name, kMaxEntryNameLength + 1, text);
}
