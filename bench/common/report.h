// How the benchmarks print: a heading per figure, aligned rows of numbers,
// ratios and goals. Everything goes to standard output, flushed per line, so
// that the output of a child process interleaves correctly with its parent's.
#pragma once

#include <string>

#include "stats.h"

namespace bench {

// "== title".
void Heading(const std::string& title);
// A free line, indented.
void Note(const char* format, ...);
// "  label ............ value unit".
void Row(const std::string& label, double value, const char* unit, int decimals = 1);
// "  label ............ median  p99  (unit)" for a summary.
void SummaryRow(const std::string& label, const Summary& summary, const char* unit, int decimals = 1);
// "  label ............ 1.23x": value / floor.
void RatioRow(const std::string& label, double value, double floor);
// "  goal: text ... met" or "... NOT met".
void Goal(const std::string& text, bool met);

// Parses "--name value" and "--flag" arguments.
class Arguments {
 public:
  Arguments(int argc, char** argv) : argc_(argc), argv_(argv) {}
  bool Has(const char* flag) const;
  double Number(const char* name, double fallback) const;
  std::string Text(const char* name, const std::string& fallback) const;

 private:
  int argc_;
  char** argv_;
};

}  // namespace bench
