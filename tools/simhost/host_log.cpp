// Console lines.
#include "host_log.h"

#include <cstdarg>
#include <cstdio>

namespace simhost {

HostLog::HostLog(LineSink sink) : sink_(std::move(sink)) {}

void HostLog::Line(const std::string& line) {
  std::lock_guard<SlimLock> guard(lock_);
  if (sink_) {
    sink_(line);
  } else {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
}

void HostLog::Printf(const char* format, ...) {
  char text[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  Line(text);
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  return narrow;
}

}  // namespace simhost
