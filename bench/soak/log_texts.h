// The bridge's log, checked as it grows: every line must be a timestamp and
// one of the texts the module writes, the formats of its LogMessage calls
// (gathered from src/ when the build is configured) with their conversions
// matched as patterns.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "invariants.h"

namespace soak {

// Whether `message` is what `format` (printf-style: %d %u %x %f %s, with
// flags, widths and l) can print.
bool MatchesFormat(const char* format, const char* message);

class LogChecker {
 public:
  explicit LogChecker(Failures& failures) : failures_(failures) {}
  // The module started afresh: its log begins again.
  void Restart();
  // Checks the complete lines added since the last call.
  void Poll();

  uint64_t Lines() const { return lines_; }
  // How many lines began with each text worth a look ("FAILED", "EXCEPTION", ...).
  const std::map<std::string, uint64_t>& Notable() const { return notable_; }

 private:
  void CheckLine(const std::string& line);

  Failures& failures_;
  size_t offset_ = 0;   // bytes of the current file checked so far
  bool afterNewlineFormat_ = false;  // the previous message ended in "\n": an empty line follows
  uint64_t lines_ = 0;
  std::map<std::string, uint64_t> notable_;
};

}  // namespace soak
