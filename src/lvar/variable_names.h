// What a variable's name says: whether it belongs to the MJC handshake, and
// its spelling without regard to the case of ASCII letters, which is how
// names (and aircraft titles) are matched.
#pragma once

#include <cstring>

namespace variable_names {

constexpr char kMjcPrefix[] = "MJC_VAR_";
// The handshake's four variables.
constexpr char kMjcReadCode[] = "MJC_VAR_READ_CODE";
constexpr char kMjcReadValue[] = "MJC_VAR_READ_VALUE";
constexpr char kMjcWriteCode[] = "MJC_VAR_WRITE_CODE";
constexpr char kMjcWriteValue[] = "MJC_VAR_WRITE_VALUE";

inline bool HasMjcPrefix(const char* name) { return std::strncmp(name, kMjcPrefix, sizeof kMjcPrefix - 1) == 0; }

inline char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool EqualFolded(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const char x = FoldAscii(*a);
    if (x != FoldAscii(*b)) return false;
    if (x == '\0') return true;
  }
}

}  // namespace variable_names
