// Tokenizing console lines.
#include "command_line.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace simhost {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trim(const std::string& text) {
  size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) ++first;
  size_t last = text.size();
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

}  // namespace

CommandLine ParseCommandLine(const std::string& line) {
  CommandLine parsed;
  std::string text = Trim(line);
  if (text.empty() || text[0] == '#') return parsed;
  std::vector<std::string> words;
  size_t i = 0;
  size_t restStart = std::string::npos;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i >= text.size()) break;
    if (words.size() == 1 && restStart == std::string::npos) restStart = i;
    std::string word;
    bool quoted = false;
    while (i < text.size() && (quoted || !IsBlank(text[i]))) {
      if (text[i] == '"') {
        quoted = !quoted;
      } else {
        word += text[i];
      }
      ++i;
    }
    words.push_back(word);
  }
  for (char& c : words[0]) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  parsed.command = words[0];
  parsed.args.assign(words.begin() + 1, words.end());
  if (restStart != std::string::npos) {
    parsed.rest = text.substr(restStart);
    if (parsed.rest.size() >= 2 && parsed.rest.front() == '"' && parsed.rest.back() == '"') {
      parsed.rest = parsed.rest.substr(1, parsed.rest.size() - 2);
    }
  }
  return parsed;
}

bool ParseUint(const std::string& text, unsigned long long max, unsigned long long* value) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  int base = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 16 : 10;
  unsigned long long v = std::strtoull(text.c_str(), &end, base);
  if (end != text.c_str() + text.size() || errno == ERANGE || v > max) return false;
  *value = v;
  return true;
}

bool ParseDouble(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

}  // namespace simhost
