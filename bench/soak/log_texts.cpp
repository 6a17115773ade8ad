#include "log_texts.h"

#include <cctype>
#include <cstring>

#include "module_log.h"

namespace soak {

namespace {

// The format strings of the module's LogMessage calls.
const char* const kFormats[] = {
#include "log_formats.inc"
};

bool IsStamp(const std::string& line) {
  // "dd:mm:yyyy hh:mm:ss "
  static const char kShape[] = "00:00:0000 00:00:00 ";
  if (line.size() < sizeof kShape - 1) return false;
  for (size_t i = 0; i < sizeof kShape - 1; ++i) {
    if (kShape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != kShape[i]) return false;
  }
  return true;
}

size_t Span(const char* text, const char* allowed) { return std::strspn(text, allowed); }

}  // namespace

bool MatchesFormat(const char* format, const char* message) {
  while (*format != '\0') {
    if (*format != '%') {
      if (*format != *message) return false;
      ++format;
      ++message;
      continue;
    }
    ++format;
    if (*format == '%') {
      if (*message != '%') return false;
      ++format;
      ++message;
      continue;
    }
    format += Span(format, "-+ #0123456789.l");
    const char conversion = *format++;
    size_t n = 0;
    switch (conversion) {
      case 'd':
      case 'i':
        n = (*message == '-') ? 1 : 0;
        n += Span(message + n, "0123456789");
        if (n == 0 || !std::isdigit(static_cast<unsigned char>(message[n - 1]))) return false;
        break;
      case 'u':
        n = Span(message, "0123456789");
        break;
      case 'x':
        n = Span(message, "0123456789abcdef");
        break;
      case 'f':
        n = Span(message, "-0123456789.infatyINFATY#()");
        break;
      case 's':
        // Any text, the shortest that lets the rest match.
        for (const char* end = message;; ++end) {
          if (MatchesFormat(format, end)) return true;
          if (*end == '\0') return false;
        }
      default:
        return false;
    }
    if (n == 0) return false;
    message += n;
  }
  return *message == '\0';
}

void LogChecker::Restart() {
  offset_ = 0;
  afterNewlineFormat_ = false;
}

void LogChecker::Poll() {
  const std::string bytes = module_log::Bytes();
  if (bytes.size() < offset_) offset_ = 0;  // a new file
  size_t end;
  while ((end = bytes.find("\r\n", offset_)) != std::string::npos) {
    CheckLine(bytes.substr(offset_, end - offset_));
    offset_ = end + 2;
  }
}

void LogChecker::CheckLine(const std::string& line) {
  ++lines_;
  if (line.empty() && afterNewlineFormat_) {
    afterNewlineFormat_ = false;
    return;
  }
  afterNewlineFormat_ = false;
  if (!IsStamp(line)) {
    failures_.Fail("a log line without a timestamp: \"" + line + "\"");
    return;
  }
  const std::string message = line.substr(20);
  for (const char* format : kFormats) {
    size_t length = std::strlen(format);
    const bool newline = length > 0 && format[length - 1] == '\n';
    const std::string body(format, newline ? length - 1 : length);
    if (MatchesFormat(body.c_str(), message.c_str())) {
      afterNewlineFormat_ = newline;
      for (const char* notable : {"Excpetion", "Wait error", "SimConnect: EXCEPTION", "No heartbeat"}) {
        if (message.compare(0, std::strlen(notable), notable) == 0) ++notable_[notable];
      }
      if (message.find("==> FAILED") != std::string::npos) ++notable_["FAILED"];
      return;
    }
  }
  failures_.Fail("a log line that is none of the module's texts: \"" + message + "\"");
}

}  // namespace soak
