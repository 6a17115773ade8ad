#include "report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

namespace {

std::string Padded(const std::string& label, size_t width) {
  std::string text = "  " + label + " ";
  while (text.size() < width) text += '.';
  return text + " ";
}

constexpr size_t kLabelWidth = 46;

}  // namespace

void Heading(const std::string& title) {
  std::printf("\n== %s\n", title.c_str());
  std::fflush(stdout);
}

void Note(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::printf("  %s\n", text);
  std::fflush(stdout);
}

void Row(const std::string& label, double value, const char* unit, int decimals) {
  std::printf("%s%.*f %s\n", Padded(label, kLabelWidth).c_str(), decimals, value, unit);
  std::fflush(stdout);
}

void SummaryRow(const std::string& label, const Summary& summary, const char* unit, int decimals) {
  std::printf("%smedian %.*f  p99 %.*f  max %.*f %s  (n=%zu)\n", Padded(label, kLabelWidth).c_str(), decimals,
              summary.median, decimals, summary.p99, decimals, summary.max, unit, summary.count);
  std::fflush(stdout);
}

void RatioRow(const std::string& label, double value, double floor) {
  std::printf("%s%.2fx\n", Padded(label, kLabelWidth).c_str(), floor > 0.0 ? value / floor : 0.0);
  std::fflush(stdout);
}

void Goal(const std::string& text, bool met) {
  std::printf("  goal: %s ... %s\n", text.c_str(), met ? "met" : "NOT met");
  std::fflush(stdout);
}

bool Arguments::Has(const char* flag) const {
  for (int i = 1; i < argc_; ++i) {
    if (std::strcmp(argv_[i], flag) == 0) return true;
  }
  return false;
}

double Arguments::Number(const char* name, double fallback) const {
  for (int i = 1; i + 1 < argc_; ++i) {
    if (std::strcmp(argv_[i], name) == 0) return std::atof(argv_[i + 1]);
  }
  return fallback;
}

std::string Arguments::Text(const char* name, const std::string& fallback) const {
  for (int i = 1; i + 1 < argc_; ++i) {
    if (std::strcmp(argv_[i], name) == 0) return argv_[i + 1];
  }
  return fallback;
}

}  // namespace bench
