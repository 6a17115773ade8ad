#include "bridge_log_file.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <regex>

namespace e2e {

std::string BridgeLogPath() {
  char folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, folder))) return std::string();
  return std::string(folder) + "\\TAVO.quin\\logs\\TVOBridge.log";
}

std::string BridgeLogBytes() {
  std::string text;
  FILE* file = std::fopen(BridgeLogPath().c_str(), "rb");
  if (file == nullptr) return text;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  std::fclose(file);
  return text;
}

namespace {

// Splits the file into lines; a last line without CR LF (being written) is left out.
Lines RawLines(const std::string& text, bool* complete) {
  Lines lines;
  size_t start = 0;
  *complete = true;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      *complete = false;
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace

Lines BridgeLogMessages(std::time_t notBefore) {
  static const std::regex stamp(R"(^(\d\d):(\d\d):(\d{4}) (\d\d):(\d\d):(\d\d) )");
  bool complete = true;
  std::string text = BridgeLogBytes();
  Lines raw = RawLines(text, &complete);
  EXPECT_TRUE(complete) << "the log ends in a line without CR LF";
  const std::time_t latest = std::time(nullptr) + 2;
  Lines messages;
  bool previousEndedInNewline = false;
  for (const std::string& line : raw) {
    std::smatch m;
    if (!std::regex_search(line, m, stamp)) {
      EXPECT_TRUE(previousEndedInNewline && line.empty()) << "log line without a timestamp: " << line;
      messages.push_back(line);
      previousEndedInNewline = false;
      continue;
    }
    std::tm local = {};
    local.tm_mday = std::stoi(m[1]);
    local.tm_mon = std::stoi(m[2]) - 1;
    local.tm_year = std::stoi(m[3]) - 1900;
    local.tm_hour = std::stoi(m[4]);
    local.tm_min = std::stoi(m[5]);
    local.tm_sec = std::stoi(m[6]);
    local.tm_isdst = -1;
    EXPECT_TRUE(local.tm_mday >= 1 && local.tm_mday <= 31 && local.tm_mon >= 0 && local.tm_mon <= 11 &&
                local.tm_hour <= 23 && local.tm_min <= 59 && local.tm_sec <= 60)
        << "timestamp out of range: " << line;
    const std::time_t when = std::mktime(&local);
    EXPECT_TRUE(when >= notBefore - 2 && when <= latest) << "timestamp not of this run's local time: " << line;
    messages.push_back(line.substr(m.length(0)));
    // The one message that carries a newline of its own.
    previousEndedInNewline = messages.back().compare(0, 12, "Wait error: ") == 0;
  }
  return messages;
}

namespace {

size_t CountInFile(const std::string& message) {
  bool complete = true;
  Lines raw = RawLines(BridgeLogBytes(), &complete);
  size_t count = 0;
  for (const std::string& line : raw) {
    // "dd:mm:yyyy hh:mm:ss " is 20 characters.
    if (line.size() >= 20 && line.compare(20, std::string::npos, message) == 0) ++count;
  }
  return count;
}

}  // namespace

bool WaitForLogMessage(const std::string& message, DWORD timeoutMs) {
  return WaitForLogMessageCount(message, 1, timeoutMs);
}

bool WaitForLogMessageCount(const std::string& message, size_t count, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (CountInFile(message) >= count) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(10);
  }
}

std::string Succeeded(const std::string& label, int sendId) {
  return "SimConnect: " + label + " ==> SUCCESS (SendID = " + std::to_string(sendId) + ")";
}

int IndexOf(const Lines& lines, const std::string& message, size_t from) {
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i] == message) return static_cast<int>(i);
  }
  return -1;
}

size_t CountOf(const Lines& lines, const std::string& message) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), message));
}

std::string Joined(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

Lines Slice(const Lines& lines, size_t from, size_t to) {
  from = std::min(from, lines.size());
  to = std::min(std::max(to, from), lines.size());
  return Lines(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.begin() + static_cast<std::ptrdiff_t>(to));
}

}  // namespace e2e
