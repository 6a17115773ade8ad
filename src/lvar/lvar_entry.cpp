#include "lvar/lvar_entry.h"

#include "lvar/records.h"

// The bytes past kMaxEntryNameLength + 1 are never written: they stay zero.
void LVAREntry::SetName(const char* text) { records::SetText(name, kMaxEntryNameLength + 1, text); }
